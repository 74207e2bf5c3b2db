#include "ProcessWorkingDirectoryResolver.h"

#include <QByteArray>
#include <QFile>

#include <unistd.h>

namespace quaystone {

namespace {

// readlink(2) truncates silently to the buffer it is given, so a result that fills the buffer is
// read again with a larger one.
std::optional<QByteArray> readLinkTarget(const QByteArray &path) {
    QByteArray buffer(256, Qt::Uninitialized);
    for (;;) {
        const ssize_t length = ::readlink(path.constData(), buffer.data(), static_cast<size_t>(buffer.size()));
        if (length < 0)
            return std::nullopt;
        if (length < buffer.size()) {
            buffer.truncate(length);
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace

QCoro::Task<ProcessDetails> ProcessWorkingDirectoryResolver::resolve(qint32 pid) {
    ProcessDetails details;
    if (const std::optional<QByteArray> target = readLinkTarget("/proc/" + QByteArray::number(pid) + "/cwd"))
        details.workingDirectory = QFile::decodeName(*target);
    co_return details;
}

} // namespace quaystone
