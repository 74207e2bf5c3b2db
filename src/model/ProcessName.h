#pragma once

#include <QByteArrayView>
#include <QString>

#include <optional>

namespace quaystone {

// The kernel keeps a process's name in at most 15 bytes and cuts a longer one there.
inline constexpr qsizetype kernelNameLimit = 15;

// The name a process is shown by, from the kernel's name (/proc/PID/comm without its newline)
// and its raw command line (/proc/PID/cmdline, arguments ended by NUL bytes; any prefix of it
// that holds the first argument will do). The kernel's name, except where it was cut: then the
// program's name (the last path component of the first argument) when that begins with the
// kernel's name, so a renamed process never shows a name it did not start with. None when the
// kernel gave no name.
std::optional<QString> processName(QByteArrayView kernelName, QByteArrayView commandLine);

} // namespace quaystone
