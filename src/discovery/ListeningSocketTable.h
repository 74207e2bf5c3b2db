#pragma once

#include <QByteArrayView>
#include <QList>
#include <QStringList>
#include <QtGlobal>

namespace quaystone {

// One socket in the listening state as the kernel's table shows it.
struct ListeningSocket {
    quint16 port = 0;
    quint32 uid = 0; // the user that created the socket
    quint64 inode = 0;

    friend bool operator==(const ListeningSocket &, const ListeningSocket &) = default;
};

// The kernel's tables of TCP sockets, IPv4 and IPv6 (/proc/net/tcp and /proc/net/tcp6). Every user
// may read them, so they show the listeners of other users that lsof, run by a normal user, cannot.
class ListeningSocketTable {
public:
    explicit ListeningSocketTable(QStringList tablePaths = defaultTablePaths());

    static QStringList defaultTablePaths();

    // The listening sockets of one table's text, in its order. Lines that are not a socket line
    // in the kernel's format (the header, truncated or garbled lines) are skipped.
    static QList<ListeningSocket> parse(QByteArrayView text);

    // Reads every table afresh. A table that cannot be read (IPv6 turned off, no /proc) adds nothing.
    QList<ListeningSocket> read() const;

private:
    QStringList m_tablePaths;
};

} // namespace quaystone
