// SPDX-License-Identifier: GPL-3.0-or-later
// Text as a balanced tree of pieces, which versions of the text share.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

// Bytes that never change where they are, and what lies before any offset.
class TextSource
{
public:
    virtual ~TextSource() = default;
    virtual void copy(size_t from, size_t to, char *out) const = 0;
    virtual char byteAt(size_t offset) const = 0;
    // The line feeds: how many there are, how many lie before an offset, and
    // the offset just after the index-th (from 0).
    virtual size_t lineFeedCount() const = 0;
    virtual size_t lineFeedsBefore(size_t offset) const = 0;
    virtual size_t afterLineFeed(size_t index) const = 0;
    // UTF-16 code units in from..to, which start and end on whole characters,
    // and the offset of the character that starts units after from.
    virtual size_t utf16Units(size_t from, size_t to) const = 0;
    virtual size_t offsetOfUtf16(size_t from, size_t units) const = 0;

    size_t lineFeedsIn(size_t from, size_t to) const
    {
        return lineFeedsBefore(to) - lineFeedsBefore(from);
    }
    // The offset after the n-th line feed at or after from (n counts from 0).
    size_t afterLineFeedFrom(size_t from, size_t n) const
    {
        return afterLineFeed(lineFeedsBefore(from) + n);
    }
};

// What a stretch of text holds: bytes, line feeds and UTF-16 units.
struct PieceSums
{
    size_t bytes = 0;
    size_t lineFeeds = 0;
    size_t utf16 = 0;

    PieceSums &operator+=(const PieceSums &other)
    {
        bytes += other.bytes;
        lineFeeds += other.lineFeeds;
        utf16 += other.utf16;
        return *this;
    }
};

// A node of the tree: a leaf is a piece, a stretch of one source; an inner
// node has two halves and what they hold together.
struct PieceNode
{
    mutable std::atomic<uint32_t> holders {1};
    // A leaf's is 1.
    uint32_t height = 1;
    PieceSums sums;
    PieceNode *left = nullptr;
    PieceNode *right = nullptr;
    std::shared_ptr<const TextSource> source;
    size_t start = 0;

    bool isLeaf() const { return left == nullptr; }
};

// The idea: the leaves, left to right, are the text's pieces; every inner
// node sums its halves' bytes, line feeds and UTF-16 units, and the halves'
// heights differ by at most one (an AVL tree). An offset, a row or a UTF-16
// unit is found from the root in O(log n) for n pieces, and splitting or
// joining trees costs O(log n) too, so that every edit, undo and redo does.
//
// Versions share nodes: a copied range, an undo step and the text hold the
// same nodes, counted by their holders, and a node is changed only while it
// has one holder; otherwise an edit copies the path it changes. A paste of a
// copied range, however large, adds O(log n) nodes.
//
// Units: byte offsets, line feeds and UTF-16 units, 64-bit. Limits: the
// height stays below 1.45 log2(n + 2) + 1. A tree's nodes may be shared
// between threads, which only read them; one tree is used by one thread.
class PieceTree
{
public:
    PieceTree() = default;
    PieceTree(const PieceTree &other);
    PieceTree(PieceTree &&other) noexcept
        : m_root(std::exchange(other.m_root, nullptr))
    { }
    PieceTree &operator=(PieceTree other) noexcept
    {
        std::swap(m_root, other.m_root);
        return *this;
    }
    ~PieceTree();

    // What a stretch of a source holds.
    static PieceSums sumsOf(const TextSource &source, size_t start, size_t length);
    // One piece: length bytes of source from start, on whole characters.
    static PieceTree piece(std::shared_ptr<const TextSource> source, size_t start, size_t length);
    // left's text followed by right's.
    static PieceTree join(PieceTree left, PieceTree right);
    // The text before at and the text from at on.
    static std::pair<PieceTree, PieceTree> split(PieceTree tree, size_t at);

    bool empty() const { return m_root == nullptr; }
    size_t size() const { return sums().bytes; }
    PieceSums sums() const { return m_root ? m_root->sums : PieceSums {}; }
    size_t height() const { return m_root ? m_root->height : 0; }

    // The text from..to, sharing this tree's nodes.
    PieceTree range(size_t from, size_t to) const;

    // Makes the piece that ends at offset at longer by added, which follows
    // it in its source, and says whether it could: the piece must be source's
    // and end at sourceEnd.
    bool lengthen(size_t at, const TextSource *source, size_t sourceEnd, const PieceSums &added);

    // A piece, and what the text holds before it.
    struct Found
    {
        const TextSource *source = nullptr;
        size_t start = 0;
        PieceSums sums;
        PieceSums before;
    };
    // The piece that holds the byte at offset, below size().
    Found atByte(size_t offset) const;
    // The piece that holds the index-th line feed (from 0).
    Found atLineFeed(size_t index) const;
    // The piece that holds the unit-th UTF-16 unit (from 0).
    Found atUtf16(size_t unit) const;

    // Calls visit(source, start, length) for each stretch of a piece in from..to, in order.
    template<typename Visit>
    void forEachPiece(size_t from, size_t to, Visit visit) const
    {
        if (m_root && from < to)
            visitPieces(m_root, from, to, visit);
    }

    // The distinct nodes the trees hold between them, a node that several
    // hold or that stands in several places counted once: their memory.
    static size_t nodesHeld(const std::vector<const PieceTree *> &trees);

private:
    explicit PieceTree(PieceNode *root)
        : m_root(root)
    { }
    static PieceTree shared(PieceNode *node);
    static PieceTree inner(PieceTree left, PieceTree right);
    static PieceTree balanced(PieceTree left, PieceTree right);
    struct Halves;
    // A node's two halves; the node goes when tree held it alone.
    static Halves halves(PieceTree &&tree);
    static PieceTree rangeOf(PieceNode *node, size_t from, size_t to);

    template<typename Visit>
    static void visitPieces(const PieceNode *node, size_t from, size_t to, Visit &visit)
    {
        while (!node->isLeaf()) {
            const size_t half = node->left->sums.bytes;
            if (to <= half) {
                node = node->left;
            } else if (from >= half) {
                node = node->right;
                from -= half;
                to -= half;
            } else {
                visitPieces(node->left, from, half, visit);
                node = node->right;
                from = 0;
                to -= half;
            }
        }
        visit(*node->source, node->start + from, to - from);
    }

    PieceNode *m_root = nullptr;
};

struct PieceTree::Halves
{
    PieceTree left;
    PieceTree right;
};
