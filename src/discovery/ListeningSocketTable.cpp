#include "ListeningSocketTable.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <optional>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quaystone {

namespace {

// The kernel's state number of a listening TCP socket (TCP_LISTEN).
constexpr unsigned listenState = 0x0A;

// Reads the fields of one line of the table, left to right. Every read fails on the line's end.
class LineCursor {
public:
    LineCursor(const char *begin, const char *end)
        : m_p(begin)
        , m_end(end) {}

    // The next run of characters up to a space, after the spaces before it.
    std::optional<QByteArrayView> token() {
        while (m_p < m_end && *m_p == ' ')
            ++m_p;
        const char *start = m_p;
        while (m_p < m_end && *m_p != ' ')
            ++m_p;
        if (m_p == start)
            return std::nullopt;
        return QByteArrayView(start, m_p - start);
    }

private:
    const char *m_p;
    const char *m_end;
};

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::optional<quint64> parseNumber(QByteArrayView digits, int base) {
    // As many digits as always fit in 64 bits.
    if (digits.isEmpty() || digits.size() > (base == 16 ? 16 : 19))
        return std::nullopt;
    quint64 value = 0;
    for (const char c : digits) {
        const int d = hexDigit(c);
        if (d < 0 || d >= base)
            return std::nullopt;
        value = value * quint64(base) + quint64(d);
    }
    return value;
}

// "0100007F:1F90": an address of 8 (IPv4) or 32 (IPv6) hex digits, a colon and a 4-digit hex port.
std::optional<quint16> parseEndpointPort(QByteArrayView endpoint) {
    const qsizetype colon = endpoint.indexOf(':');
    if (colon != 8 && colon != 32)
        return std::nullopt;
    for (const char c : endpoint.first(colon)) {
        if (hexDigit(c) < 0)
            return std::nullopt;
    }
    const QByteArrayView port = endpoint.sliced(colon + 1);
    if (port.size() != 4)
        return std::nullopt;
    const std::optional<quint64> value = parseNumber(port, 16);
    if (!value)
        return std::nullopt;
    return quint16(*value);
}

// One line: "sl: local remote st tx:rx tr:when retrnsmt uid timeout inode ...".
std::optional<ListeningSocket> parseLine(const char *begin, const char *end) {
    LineCursor cursor(begin, end);
    const std::optional<QByteArrayView> slot = cursor.token();
    if (!slot || !slot->endsWith(':') || !parseNumber(slot->chopped(1), 10))
        return std::nullopt;
    const std::optional<QByteArrayView> local = cursor.token();
    const std::optional<QByteArrayView> remote = cursor.token();
    const std::optional<QByteArrayView> state = cursor.token();
    if (!local || !remote || !state || state->size() != 2)
        return std::nullopt;
    const std::optional<quint16> port = parseEndpointPort(*local);
    const std::optional<quint64> stateNumber = parseNumber(*state, 16);
    if (!port || !parseEndpointPort(*remote) || !stateNumber)
        return std::nullopt;
    // The queues, the timer and the retransmission count say nothing about the owner.
    for (int skipped = 0; skipped < 3; ++skipped) {
        if (!cursor.token())
            return std::nullopt;
    }
    const std::optional<QByteArrayView> uidText = cursor.token();
    const std::optional<QByteArrayView> timeout = cursor.token();
    const std::optional<QByteArrayView> inodeText = cursor.token();
    if (!uidText || !timeout || !inodeText)
        return std::nullopt;
    const std::optional<quint64> uid = parseNumber(*uidText, 10);
    const std::optional<quint64> inode = parseNumber(*inodeText, 10);
    if (!uid || *uid > 0xFFFFFFFFu || !inode)
        return std::nullopt;
    if (*stateNumber != listenState)
        return std::nullopt;
    return ListeningSocket{*port, quint32(*uid), *inode};
}

// Parses the complete lines of text into out; returns where the unfinished last line begins.
qsizetype parseLines(QByteArrayView text, QList<ListeningSocket> &out) {
    const char *p = text.data();
    const char *const end = p + text.size();
    while (p < end) {
        const char *newline = static_cast<const char *>(std::memchr(p, '\n', size_t(end - p)));
        if (!newline)
            break;
        if (const std::optional<ListeningSocket> socket = parseLine(p, newline))
            out.append(*socket);
        p = newline + 1;
    }
    return p - text.data();
}

// The kernel adds INET_DIAG_CGROUP_ID to every socket it reports (it cannot be asked for through
// idiag_ext, whose 8 bits end at INET_DIAG_SHUTDOWN): it names the socket's systemd unit even
// when its process belongs to another user.
quint64 cgroupIdOf(const nlmsghdr *part) {
    const auto *attribute = reinterpret_cast<const rtattr *>(static_cast<const char *>(NLMSG_DATA(part)) +
                                                             NLMSG_ALIGN(sizeof(inet_diag_msg)));
    int left = int(part->nlmsg_len) - int(NLMSG_LENGTH(sizeof(inet_diag_msg)));
    for (; RTA_OK(attribute, left); attribute = RTA_NEXT(attribute, left)) {
        if (attribute->rta_type == INET_DIAG_CGROUP_ID && RTA_PAYLOAD(attribute) >= sizeof(quint64)) {
            quint64 id = 0;
            std::memcpy(&id, RTA_DATA(attribute), sizeof id);
            return id;
        }
    }
    return 0;
}

} // namespace

ListeningSocketTable::ListeningSocketTable(QStringList tablePaths)
    : m_tablePaths(std::move(tablePaths)) {}

QStringList ListeningSocketTable::procTablePaths() {
    return {QStringLiteral("/proc/net/tcp"), QStringLiteral("/proc/net/tcp6")};
}

QList<ListeningSocket> ListeningSocketTable::parse(QByteArrayView text) {
    QList<ListeningSocket> sockets;
    const qsizetype parsed = parseLines(text, sockets);
    // A last line without its newline is still a line.
    if (parsed < text.size()) {
        const QByteArray last = text.sliced(parsed).toByteArray() + '\n';
        parseLines(last, sockets);
    }
    return sockets;
}

QList<ListeningSocket> ListeningSocketTable::read() const {
    if (m_tablePaths)
        return readTextTables(*m_tablePaths);
    if (std::optional<QList<ListeningSocket>> sockets = readSocketDiag())
        return std::move(*sockets);
    return readTextTables(procTablePaths());
}

QList<ListeningSocket> ListeningSocketTable::readTextTables(const QStringList &paths) {
    QList<ListeningSocket> sockets;
    // The tables hold every socket of the network namespace, listening or not, and can run to
    // megabytes: they are parsed a chunk at a time rather than read whole.
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    for (const QString &path : paths) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        qsizetype filled = 0;
        for (;;) {
            if (filled == buffer.size())
                buffer.resize(buffer.size() * 2); // a single line longer than the buffer
            const ssize_t n = ::read(fd, buffer.data() + filled, size_t(buffer.size() - filled));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            filled += n;
            const qsizetype consumed = parseLines(QByteArrayView(buffer.constData(), filled), sockets);
            std::memmove(buffer.data(), buffer.constData() + consumed, size_t(filled - consumed));
            filled -= consumed;
        }
        ::close(fd);
        if (filled > 0)
            sockets.append(parse(QByteArrayView(buffer.constData(), filled)));
    }
    return sockets;
}

std::optional<QList<ListeningSocket>> ListeningSocketTable::readSocketDiag() {
    const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd < 0)
        return std::nullopt;
    QList<ListeningSocket> sockets;
    bool complete = true;
    // The kernel fills each part of a dump up to 32 KiB.
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    quint32 sequence = 0;
    for (const quint8 family : {quint8(AF_INET), quint8(AF_INET6)}) {
        struct {
            nlmsghdr header;
            inet_diag_req_v2 request;
        } message{};
        message.header.nlmsg_len = sizeof message;
        message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
        message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
        message.header.nlmsg_seq = ++sequence;
        message.request.sdiag_family = family;
        message.request.sdiag_protocol = IPPROTO_TCP;
        message.request.idiag_states = 1u << listenState;
        sockaddr_nl kernel{};
        kernel.nl_family = AF_NETLINK;
        if (::sendto(fd, &message, sizeof message, 0, reinterpret_cast<sockaddr *>(&kernel), sizeof kernel) < 0) {
            complete = false;
            break;
        }
        bool done = false;
        while (!done && complete) {
            const ssize_t n = ::recv(fd, buffer.data(), size_t(buffer.size()), 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                complete = false;
                break;
            }
            int left = int(n);
            for (auto *part = reinterpret_cast<const nlmsghdr *>(buffer.constData()); NLMSG_OK(part, left);
                 part = NLMSG_NEXT(part, left)) {
                if (part->nlmsg_seq != sequence)
                    continue;
                if (part->nlmsg_type == NLMSG_DONE) {
                    done = true;
                    break;
                }
                if (part->nlmsg_type == NLMSG_ERROR || part->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
                    complete = false;
                    break;
                }
                const auto *socket = static_cast<const inet_diag_msg *>(NLMSG_DATA(part));
                if (socket->idiag_state == listenState)
                    sockets.append(
                        {ntohs(socket->id.idiag_sport), socket->idiag_uid, socket->idiag_inode, cgroupIdOf(part)});
            }
        }
        if (!complete)
            break;
    }
    ::close(fd);
    if (!complete)
        return std::nullopt;
    return sockets;
}

} // namespace quaystone
