#pragma once

#include "kernel/ListeningSockets.h"

#include <QByteArrayView>
#include <QList>
#include <QStringList>
#include <QtGlobal>

#include <optional>

namespace quaystone {

// The kernel's tables of TCP sockets, IPv4 and IPv6, read by the kernel library, as Qt lists. Every user may read them,
// so they show the listeners of other users that lsof, run by a normal user, cannot see. They are asked for through
// sock_diag netlink, which walks only the listening sockets; where that is refused the text tables /proc/net/tcp and
// /proc/net/tcp6 are read instead, which walk every socket slot of the system and cost milliseconds even when nearly
// empty.
class ListeningSocketTable {
public:
    // The kernel's own tables.
    ListeningSocketTable() = default;
    // Only the given files, each in the format of /proc/net/tcp.
    explicit ListeningSocketTable(QStringList tablePaths);

    static QStringList procTablePaths();

    // The listening sockets of one table's text, in its order. Lines that are not a socket line
    // in the kernel's format (the header, truncated or garbled lines) are skipped.
    static QList<ListeningSocket> parse(QByteArrayView text);

    // Reads afresh. A table that cannot be read (IPv6 turned off, no /proc) adds nothing.
    QList<ListeningSocket> read() const;

    // The listening TCP sockets through sock_diag netlink; absent when the kernel refuses it.
    static std::optional<QList<ListeningSocket>> readSocketDiag();
    static QList<ListeningSocket> readTextTables(const QStringList &paths);

private:
    std::optional<QStringList> m_tablePaths;
};

} // namespace quaystone
