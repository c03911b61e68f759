// SPDX-License-Identifier: GPL-3.0-or-later
// Small files for the tests: their exact bytes, files that were there before, and
// the faults of a real disk (a size limit, a full file system, a user without rights).
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>

#include <csignal>
#include <optional>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

// What stat() tells; the alias keeps "struct" out of declarations.
using FileStatus = struct stat;

inline QByteArray contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Limits the size of every file this process writes, as a full disk would.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit small {bytes, m_saved.rlim_max};
        m_applied = setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, SIG_DFL);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;
    bool applied() const { return m_applied; }

private:
    rlimit m_saved {};
    bool m_applied = false;
};

// A 64 KB file system of its own; mounting needs root.
class SmallFileSystem
{
public:
    explicit SmallFileSystem(const QString &path)
        : m_path(path)
    {
        QDir().mkpath(path);
        m_mounted = mount("tmpfs", qPrintable(path), "tmpfs", 0, "size=64k") == 0;
    }
    ~SmallFileSystem()
    {
        if (m_mounted)
            umount(qPrintable(m_path));
    }
    SmallFileSystem(const SmallFileSystem &) = delete;
    SmallFileSystem &operator=(const SmallFileSystem &) = delete;
    bool mounted() const { return m_mounted; }

private:
    QString m_path;
    bool m_mounted = false;
};

// The system's own rule for links in shared folders (fs.protected_symlinks)
// off while this lives, as it is in many containers; only root may change it.
class LinksUnprotected
{
public:
    LinksUnprotected()
    {
        QFile setting(QString::fromLatin1(Setting));
        if (!setting.open(QIODevice::ReadOnly))
            return;
        m_saved = setting.readAll();
        setting.close();
        // A sysctl takes a write only from its start, in a file of its own.
        m_applied = setting.open(QIODevice::WriteOnly) && setting.write("0\n") == 2;
    }
    ~LinksUnprotected()
    {
        QFile setting(QString::fromLatin1(Setting));
        if (m_applied
            && (!setting.open(QIODevice::WriteOnly) || setting.write(m_saved) != m_saved.size()))
            qFatal("could not put fs.protected_symlinks back to %s", m_saved.constData());
    }
    LinksUnprotected(const LinksUnprotected &) = delete;
    LinksUnprotected &operator=(const LinksUnprotected &) = delete;
    bool applied() const { return m_applied; }

private:
    static constexpr char Setting[] = "/proc/sys/fs/protected_symlinks";
    QByteArray m_saved;
    bool m_applied = false;
};

// Root may write anywhere, so a case about missing rights runs again as the
// user nobody, as a user meets it: this test program's testCase ("function" or
// "function:row"), from a copy in folder, where nobody may run it. Returns the
// child's output when it failed.
inline std::optional<QByteArray> failureAsNobody(const QString &folder, const QString &testCase)
{
    const QString copy = QDir(folder).filePath(QCoreApplication::applicationName());
    if (!QFile::exists(copy) && !QFile::copy(QCoreApplication::applicationFilePath(), copy))
        return QByteArray("could not copy the test program");
    QFile::setPermissions(
        folder, QFile::permissions(folder) | QFileDevice::ExeOther | QFileDevice::ReadOther);
    QProcess child;
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(
        "setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", "--", copy, testCase});
    if (!child.waitForFinished(60'000))
        return QByteArray("the test as nobody did not finish");
    if (child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0)
        return std::nullopt;
    return child.readAll();
}
