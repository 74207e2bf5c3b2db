#include "ProcessWorkingDirectoryResolver.h"

#include "kernel/ProcStat.h"
#include "model/ProcessName.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quaystone {

namespace {

// The kernel's mark after the path of a working directory that has been removed.
constexpr std::string_view deletedMark = " (deleted)";

// Reads a small file under the process's directory into buffer; the number of bytes read, or
// -1 when it cannot be opened or read. One read: procfs hands these files over whole in a single
// read when the buffer can hold them, so no second read is spent on finding the end.
ssize_t readAt(int dir, const char *name, char *buffer, size_t size) {
    const int fd = ::openat(dir, name, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    ssize_t n;
    do
        n = ::read(fd, buffer, size);
    while (n < 0 && errno == EINTR);
    ::close(fd);
    return n;
}

// Where a UTF-8 sequence that was cut off at the end of text begins, or its size when none was.
size_t endOfWholeSequences(const char *text, size_t size) {
    for (size_t back = 1; back <= 3 && back <= size; ++back) {
        const auto byte = static_cast<unsigned char>(text[size - back]);
        if ((byte & 0xC0) == 0x80)
            continue; // a continuation byte: look further back for its lead
        const size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return length > back ? size - back : size;
    }
    return size;
}

std::optional<QString> readWorkingDirectory(int dir, bool &deleted) {
    char stackBuffer[PATH_MAX];
    QByteArray target;
    ssize_t length = ::readlinkat(dir, "cwd", stackBuffer, sizeof stackBuffer);
    if (length < 0)
        return std::nullopt;
    if (size_t(length) < sizeof stackBuffer) {
        target = QByteArray(stackBuffer, length);
    } else {
        // readlink(2) truncates silently to the buffer it is given; where pages are larger than
        // PATH_MAX the kernel can return more.
        target.resize(2 * PATH_MAX);
        for (;;) {
            length = ::readlinkat(dir, "cwd", target.data(), size_t(target.size()));
            if (length < 0)
                return std::nullopt;
            if (length < target.size())
                break;
            target.resize(target.size() * 2);
        }
        target.truncate(length);
    }
    // A directory may really be named "x (deleted)"; only a removed one has no links left.
    struct stat status {};
    if (target.endsWith(QByteArrayView(deletedMark.data(), qsizetype(deletedMark.size()))) &&
        ::fstatat(dir, "cwd", &status, 0) == 0 && status.st_nlink == 0) {
        target.chop(qsizetype(deletedMark.size()));
        deleted = true;
    }
    return QFile::decodeName(target);
}

std::optional<QString> readName(int dir, QByteArrayView commandLine) {
    char buffer[64];
    const ssize_t length = readAt(dir, "comm", buffer, sizeof buffer);
    if (length <= 0)
        return std::nullopt;
    return processName(QByteArrayView(buffer, length), commandLine);
}

// The raw command line, at most commandLineLimit bytes and one more, which tells whether it was cut.
QByteArrayView readRawCommandLine(int dir, char (&buffer)[ProcessWorkingDirectoryResolver::commandLineLimit + 1]) {
    const ssize_t size = readAt(dir, "cmdline", buffer, sizeof buffer);
    return size <= 0 ? QByteArrayView() : QByteArrayView(buffer, size);
}

std::optional<QString> readCommandLine(QByteArrayView raw) {
    if (raw.isEmpty())
        return std::nullopt; // kernel threads and zombies have none
    const bool cut = raw.size() > ProcessWorkingDirectoryResolver::commandLineLimit;
    size_t length = cut ? size_t(ProcessWorkingDirectoryResolver::commandLineLimit) : size_t(raw.size());
    while (length > 0 && raw[qsizetype(length) - 1] == '\0')
        --length;
    if (cut)
        length = endOfWholeSequences(raw.data(), length);
    QByteArray joined(raw.data(), qsizetype(length));
    joined.replace('\0', ' ');
    // Kept raw, as the name and the directory are: each place that shows it escapes it.
    QString text = QString::fromUtf8(joined);
    if (cut)
        text.append(QChar(0x2026));
    if (text.isEmpty())
        return std::nullopt;
    return text;
}

// Field 22 of stat: with the pid, it names one process.
std::optional<quint64> readStartTime(int dir) {
    return kernel::readStartTimeAt(dir);
}

} // namespace

QCoro::Task<ProcessDetails> ProcessWorkingDirectoryResolver::resolve(qint32 pid) {
    co_return read(pid);
}

ProcessDetails ProcessWorkingDirectoryResolver::read(qint32 pid) {
    ProcessDetails details;
    if (pid <= 0)
        return details;
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%d", int(pid));
    // Every read goes through this one directory, so all of them see the same process even
    // if the pid is reused meanwhile (they then fail rather than read a newcomer).
    const int dir = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return details;
    struct stat status {};
    if (::fstat(dir, &status) == 0)
        details.uid = quint32(status.st_uid);
    details.workingDirectory = readWorkingDirectory(dir, details.workingDirectoryDeleted);
    char commandLine[commandLineLimit + 1];
    const QByteArrayView rawCommandLine = readRawCommandLine(dir, commandLine);
    details.name = readName(dir, rawCommandLine);
    details.commandLine = readCommandLine(rawCommandLine);
    details.startTime = readStartTime(dir);
    ::close(dir);
    return details;
}

} // namespace quaystone
