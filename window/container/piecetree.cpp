// SPDX-License-Identifier: GPL-3.0-or-later
// Splitting, joining and searching the tree of pieces.
#include "piecetree.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

namespace {

void release(PieceNode *node)
{
    // Right halves in the loop, left ones by recursion: no deeper than the tree is high.
    while (node && node->holders.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        release(node->left);
        PieceNode *const right = node->right;
        delete node;
        node = right;
    }
}

void hold(PieceNode *node)
{
    if (node)
        node->holders.fetch_add(1, std::memory_order_relaxed);
}

// The node in slot, copied first when another holds it too, so that it may change.
PieceNode *owned(PieceNode *&slot)
{
    if (slot->holders.load(std::memory_order_acquire) != 1) {
        auto *copy = new PieceNode;
        copy->height = slot->height;
        copy->sums = slot->sums;
        copy->left = slot->left;
        copy->right = slot->right;
        copy->source = slot->source;
        copy->start = slot->start;
        hold(copy->left);
        hold(copy->right);
        release(slot);
        slot = copy;
    }
    return slot;
}

} // namespace

PieceTree::PieceTree(const PieceTree &other)
    : m_root(other.m_root)
{
    hold(m_root);
}

PieceTree::~PieceTree()
{
    release(m_root);
}

PieceTree PieceTree::shared(PieceNode *node)
{
    hold(node);
    return PieceTree(node);
}

PieceSums PieceTree::sumsOf(const TextSource &source, size_t start, size_t length)
{
    return {length, source.lineFeedsIn(start, start + length),
        source.utf16Units(start, start + length)};
}

PieceTree PieceTree::piece(std::shared_ptr<const TextSource> source, size_t start, size_t length)
{
    if (length == 0)
        return {};
    auto *node = new PieceNode;
    node->sums = sumsOf(*source, start, length);
    node->source = std::move(source);
    node->start = start;
    return PieceTree(node);
}

PieceTree PieceTree::inner(PieceTree left, PieceTree right)
{
    auto *node = new PieceNode;
    node->height = static_cast<uint32_t>(std::max(left.height(), right.height()) + 1);
    node->sums = left.sums();
    node->sums += right.sums();
    node->left = std::exchange(left.m_root, nullptr);
    node->right = std::exchange(right.m_root, nullptr);
    return PieceTree(node);
}

PieceTree::Halves PieceTree::halves(PieceTree &&tree)
{
    const PieceTree taken(std::move(tree));
    PieceNode *const node = taken.m_root;
    Halves halves;
    if (node->holders.load(std::memory_order_acquire) == 1) {
        // The only holder takes the halves as they are, and the node goes alone.
        halves.left.m_root = std::exchange(node->left, nullptr);
        halves.right.m_root = std::exchange(node->right, nullptr);
    } else {
        halves.left = shared(node->left);
        halves.right = shared(node->right);
    }
    return halves;
}

PieceTree PieceTree::balanced(PieceTree left, PieceTree right)
{
    // Heights two apart take one rotation, or two when the taller side's
    // middle grandchild is the tallest.
    if (left.height() > right.height() + 1) {
        Halves taller = halves(std::move(left));
        if (taller.left.height() >= taller.right.height())
            return inner(std::move(taller.left), inner(std::move(taller.right), std::move(right)));
        Halves middle = halves(std::move(taller.right));
        return inner(inner(std::move(taller.left), std::move(middle.left)),
            inner(std::move(middle.right), std::move(right)));
    }
    if (right.height() > left.height() + 1) {
        Halves taller = halves(std::move(right));
        if (taller.right.height() >= taller.left.height())
            return inner(inner(std::move(left), std::move(taller.left)), std::move(taller.right));
        Halves middle = halves(std::move(taller.left));
        return inner(inner(std::move(left), std::move(middle.left)),
            inner(std::move(middle.right), std::move(taller.right)));
    }
    return inner(std::move(left), std::move(right));
}

PieceTree PieceTree::join(PieceTree left, PieceTree right)
{
    if (left.empty())
        return right;
    if (right.empty())
        return left;
    // The shorter tree goes down the taller one's near side to a subtree of
    // its own height; each level on the way back is rebalanced.
    if (left.height() > right.height() + 1) {
        Halves taller = halves(std::move(left));
        return balanced(std::move(taller.left), join(std::move(taller.right), std::move(right)));
    }
    if (right.height() > left.height() + 1) {
        Halves taller = halves(std::move(right));
        return balanced(join(std::move(left), std::move(taller.left)), std::move(taller.right));
    }
    return inner(std::move(left), std::move(right));
}

std::pair<PieceTree, PieceTree> PieceTree::split(PieceTree tree, size_t at)
{
    if (at == 0)
        return {PieceTree(), std::move(tree)};
    if (at >= tree.size())
        return {std::move(tree), PieceTree()};
    const PieceNode *const node = tree.m_root;
    if (node->isLeaf()) {
        return {piece(node->source, node->start, at),
            piece(node->source, node->start + at, node->sums.bytes - at)};
    }
    Halves parts = halves(std::move(tree));
    const size_t half = parts.left.size();
    if (at <= half) {
        std::pair<PieceTree, PieceTree> cut = split(std::move(parts.left), at);
        return {std::move(cut.first), join(std::move(cut.second), std::move(parts.right))};
    }
    std::pair<PieceTree, PieceTree> cut = split(std::move(parts.right), at - half);
    return {join(std::move(parts.left), std::move(cut.first)), std::move(cut.second)};
}

PieceTree PieceTree::range(size_t from, size_t to) const
{
    to = std::min(to, size());
    if (from >= to)
        return {};
    return rangeOf(m_root, from, to);
}

PieceTree PieceTree::rangeOf(PieceNode *node, size_t from, size_t to)
{
    if (from == 0 && to == node->sums.bytes)
        return shared(node);
    if (node->isLeaf())
        return piece(node->source, node->start + from, to - from);
    const size_t half = node->left->sums.bytes;
    if (to <= half)
        return rangeOf(node->left, from, to);
    if (from >= half)
        return rangeOf(node->right, from - half, to - half);
    return join(rangeOf(node->left, from, half), rangeOf(node->right, 0, to - half));
}

bool PieceTree::lengthen(
    size_t at, const TextSource *source, size_t sourceEnd, const PieceSums &added)
{
    if (at == 0 || at > size())
        return false;
    const Found found = atByte(at - 1);
    if (found.source != source || found.start + found.sums.bytes != sourceEnd
        || found.before.bytes + found.sums.bytes != at)
        return false;
    PieceNode **slot = &m_root;
    size_t offset = at - 1;
    for (;;) {
        PieceNode *const node = owned(*slot);
        node->sums += added;
        if (node->isLeaf())
            return true;
        const size_t half = node->left->sums.bytes;
        if (offset < half) {
            slot = &node->left;
        } else {
            offset -= half;
            slot = &node->right;
        }
    }
}

namespace {

// The leaf that holds the amount-th unit of a measure, and the sums before it.
PieceTree::Found find(const PieceNode *node, size_t amount, size_t PieceSums::*measure)
{
    PieceTree::Found found;
    while (!node->isLeaf()) {
        const PieceSums &left = node->left->sums;
        if (amount < left.*measure) {
            node = node->left;
        } else {
            amount -= left.*measure;
            found.before += left;
            node = node->right;
        }
    }
    found.source = node->source.get();
    found.start = node->start;
    found.sums = node->sums;
    return found;
}

} // namespace

PieceTree::Found PieceTree::atByte(size_t offset) const
{
    return find(m_root, offset, &PieceSums::bytes);
}

PieceTree::Found PieceTree::atLineFeed(size_t index) const
{
    return find(m_root, index, &PieceSums::lineFeeds);
}

PieceTree::Found PieceTree::atUtf16(size_t unit) const
{
    return find(m_root, unit, &PieceSums::utf16);
}

size_t PieceTree::nodesHeld(const std::vector<const PieceTree *> &trees)
{
    std::unordered_set<const PieceNode *> seen;
    std::vector<const PieceNode *> waiting;
    for (const PieceTree *tree : trees) {
        if (tree->m_root)
            waiting.push_back(tree->m_root);
    }
    while (!waiting.empty()) {
        const PieceNode *const node = waiting.back();
        waiting.pop_back();
        if (!seen.insert(node).second || node->isLeaf())
            continue;
        waiting.push_back(node->left);
        waiting.push_back(node->right);
    }
    return seen.size();
}
