// SPDX-License-Identifier: GPL-3.0-or-later
// Walking a path name by name, links checked at every depth.
#include "pathwalk.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using FileStatus = struct stat;

// The kernel's MAXSYMLINKS.
constexpr int LinkHops = 40;

class Descriptor
{
public:
    explicit Descriptor(int fd = -1)
        : m_fd(fd)
    { }
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(Descriptor &&other) noexcept
        : m_fd(std::exchange(other.m_fd, -1))
    { }
    Descriptor &operator=(Descriptor &&other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

// A name still to walk. One from the user's own text keeps that text, so
// that a name shown with U+FFFD can be matched in its folder.
struct Step
{
    QByteArray bytes;
    QString shown;
};

// The kernel's rule for links in shared folders (fs.protected_symlinks=1).
bool mayFollow(const FileStatus &link, const FileStatus &folder)
{
    const bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
    return !shared || link.st_uid == geteuid() || link.st_uid == folder.st_uid;
}

QByteArray parentPath(const QByteArray &path)
{
    if (path.isEmpty() || path.endsWith(".."))
        return joinedPath(path, "..");
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return {};
    return slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

// The names of folder that read as shown; shown itself, as UTF-8, first.
std::vector<QByteArray> namesReadingAs(int folder, const QString &shown)
{
    std::vector<QByteArray> names;
    const int listed = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *entries = listed >= 0 ? fdopendir(listed) : nullptr;
    if (!entries) {
        if (listed >= 0)
            ::close(listed);
        return names;
    }
    while (const dirent *entry = readdir(entries)) {
        const QByteArray name(entry->d_name);
        if (QFile::decodeName(name) == shown)
            names.push_back(name);
    }
    closedir(entries);
    return names;
}

std::vector<Step> stepsOf(const QByteArray &bytes)
{
    std::vector<Step> steps;
    const QList<QByteArray> names = bytes.split('/');
    for (auto name = names.rbegin(); name != names.rend(); ++name)
        steps.push_back({*name, {}});
    return steps;
}

} // namespace

QByteArray joinedPath(const QByteArray &folder, const QByteArray &name)
{
    if (folder.isEmpty())
        return name;
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

PathEnd walkPath(const QString &path)
{
    PathEnd end;
    const QByteArray bytes = QFile::encodeName(path);
    if (bytes.isEmpty() || bytes.size() >= PATH_MAX) {
        end.error = bytes.isEmpty() ? ENOENT : ENAMETOOLONG;
        return end;
    }
    // Walked from the back, so that a link's target goes on top.
    std::vector<Step> pending = stepsOf(bytes);
    const QStringList shown = path.split(QLatin1Char('/'));
    for (size_t i = 0; i < pending.size(); ++i) {
        const QString &name = shown[qsizetype(pending.size() - 1 - i)];
        if (name.contains(QChar::ReplacementCharacter))
            pending[i].shown = name;
    }
    const bool absolute = bytes.startsWith('/');
    Descriptor at(::open(absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    QByteArray atPath = absolute ? QByteArrayLiteral("/") : QByteArray();
    int hops = 0;
    for (;;) {
        if (at.get() < 0) {
            end.error = errno;
            return end;
        }
        Step step = std::move(pending.back());
        pending.pop_back();
        const bool last = pending.empty();
        if (step.bytes.isEmpty() || step.bytes == "." || step.bytes == "..") {
            // A path that ends in a folder names no file to write.
            if (last) {
                end.error = EISDIR;
                return end;
            }
            if (step.bytes == "..") {
                at = Descriptor(openat(at.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
                atPath = parentPath(atPath);
            }
            continue;
        }
        if (!step.shown.isEmpty()) {
            const std::vector<QByteArray> names = namesReadingAs(at.get(), step.shown);
            if (names.size() > 1) {
                end.ambiguousName = step.shown;
                return end;
            }
            if (names.size() == 1)
                step.bytes = names.front();
        }
        // A folder is opened as one, so that an automounted folder is mounted.
        Descriptor next(openat(
            at.get(), step.bytes.constData(), O_PATH | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC));
        if (next.get() < 0 && (last || errno == ENOTDIR)) {
            next = Descriptor(
                openat(at.get(), step.bytes.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        }
        FileStatus info {};
        if (next.get() < 0 || fstat(next.get(), &info) != 0) {
            // The final name need not exist yet.
            if (next.get() < 0 && errno == ENOENT && last)
                info.st_mode = 0;
            else {
                end.error = errno;
                return end;
            }
        }
        if (S_ISLNK(info.st_mode)) {
            FileStatus folder {};
            if (fstat(at.get(), &folder) != 0) {
                end.error = errno;
                return end;
            }
            if (!mayFollow(info, folder)) {
                end.refusedLink = joinedPath(atPath, step.bytes);
                return end;
            }
            QByteArray target(PATH_MAX, Qt::Uninitialized);
            const ssize_t length = readlinkat(next.get(), "", target.data(), size_t(PATH_MAX));
            if (++hops > LinkHops || length <= 0 || length >= PATH_MAX) {
                end.error = hops > LinkHops ? ELOOP
                    : length < 0            ? errno
                    : length == 0           ? ENOENT
                                            : ENAMETOOLONG;
                return end;
            }
            target.truncate(length);
            if (target.startsWith('/')) {
                at = Descriptor(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
                atPath = "/";
            }
            for (Step &name : stepsOf(target))
                pending.push_back(std::move(name));
            continue;
        }
        if (last) {
            end.folder = at.release();
            end.folderPath = atPath.isEmpty() ? QByteArrayLiteral(".") : atPath;
            end.name = step.bytes;
            return end;
        }
        if (!S_ISDIR(info.st_mode)) {
            end.error = ENOTDIR;
            return end;
        }
        at = std::move(next);
        atPath = joinedPath(atPath, step.bytes);
    }
}
