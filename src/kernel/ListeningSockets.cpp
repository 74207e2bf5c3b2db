#include "kernel/ListeningSockets.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quaystone::kernel {

namespace {

// The kernel's state number of a listening TCP socket (TCP_LISTEN).
constexpr unsigned listenState = 0x0A;

// Reads the fields of one line of the table, left to right. Every read fails on the line's end.
class LineCursor {
public:
    explicit LineCursor(std::string_view line)
        : m_rest(line) {}

    // The next run of characters up to a space, after the spaces before it.
    std::optional<std::string_view> token() {
        const std::size_t start = m_rest.find_first_not_of(' ');
        if (start == std::string_view::npos)
            return std::nullopt;
        m_rest.remove_prefix(start);
        const std::size_t end = std::min(m_rest.find(' '), m_rest.size());
        const std::string_view token = m_rest.substr(0, end);
        m_rest.remove_prefix(end);
        return token;
    }

private:
    std::string_view m_rest;
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

std::optional<std::uint64_t> parseNumber(std::string_view digits, int base) {
    // As many digits as always fit in 64 bits.
    if (digits.empty() || digits.size() > (base == 16 ? 16u : 19u))
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : digits) {
        const int d = hexDigit(c);
        if (d < 0 || d >= base)
            return std::nullopt;
        value = value * std::uint64_t(base) + std::uint64_t(d);
    }
    return value;
}

// "0100007F:1F90": an address of 8 (IPv4) or 32 (IPv6) hex digits, a colon and a 4-digit hex port.
std::optional<std::uint16_t> parseEndpointPort(std::string_view endpoint) {
    const std::size_t colon = endpoint.find(':');
    if (colon != 8 && colon != 32)
        return std::nullopt;
    for (const char c : endpoint.substr(0, colon)) {
        if (hexDigit(c) < 0)
            return std::nullopt;
    }
    const std::string_view port = endpoint.substr(colon + 1);
    if (port.size() != 4)
        return std::nullopt;
    const std::optional<std::uint64_t> value = parseNumber(port, 16);
    if (!value)
        return std::nullopt;
    return std::uint16_t(*value);
}

// One line: "sl: local remote st tx:rx tr:when retrnsmt uid timeout inode ...".
std::optional<ListeningSocket> parseLine(std::string_view line) {
    LineCursor cursor(line);
    const std::optional<std::string_view> slot = cursor.token();
    if (!slot || slot->empty() || slot->back() != ':' || !parseNumber(slot->substr(0, slot->size() - 1), 10))
        return std::nullopt;
    const std::optional<std::string_view> local = cursor.token();
    const std::optional<std::string_view> remote = cursor.token();
    const std::optional<std::string_view> state = cursor.token();
    if (!local || !remote || !state || state->size() != 2)
        return std::nullopt;
    const std::optional<std::uint16_t> port = parseEndpointPort(*local);
    const std::optional<std::uint64_t> stateNumber = parseNumber(*state, 16);
    if (!port || !parseEndpointPort(*remote) || !stateNumber)
        return std::nullopt;
    // The queues, the timer and the retransmission count say nothing about the owner.
    for (int skipped = 0; skipped < 3; ++skipped) {
        if (!cursor.token())
            return std::nullopt;
    }
    const std::optional<std::string_view> uidText = cursor.token();
    const std::optional<std::string_view> timeout = cursor.token();
    const std::optional<std::string_view> inodeText = cursor.token();
    if (!uidText || !timeout || !inodeText)
        return std::nullopt;
    const std::optional<std::uint64_t> uid = parseNumber(*uidText, 10);
    const std::optional<std::uint64_t> inode = parseNumber(*inodeText, 10);
    if (!uid || *uid > 0xFFFFFFFFu || !inode)
        return std::nullopt;
    if (*stateNumber != listenState)
        return std::nullopt;
    return ListeningSocket{*port, std::uint32_t(*uid), *inode};
}

// The kernel adds INET_DIAG_CGROUP_ID to every socket it reports (it cannot be asked for through
// idiag_ext, whose 8 bits end at INET_DIAG_SHUTDOWN): it names the socket's systemd unit even
// when its process belongs to another user.
std::uint64_t cgroupIdOf(const nlmsghdr *part) {
    const auto *attribute = reinterpret_cast<const rtattr *>(static_cast<const char *>(NLMSG_DATA(part)) +
                                                             NLMSG_ALIGN(sizeof(inet_diag_msg)));
    int left = int(part->nlmsg_len) - int(NLMSG_LENGTH(sizeof(inet_diag_msg)));
    for (; RTA_OK(attribute, left); attribute = RTA_NEXT(attribute, left)) {
        if (attribute->rta_type == INET_DIAG_CGROUP_ID && RTA_PAYLOAD(attribute) >= sizeof(std::uint64_t)) {
            std::uint64_t id = 0;
            std::memcpy(&id, RTA_DATA(attribute), sizeof id);
            return id;
        }
    }
    return 0;
}

} // namespace

std::size_t parseTableLines(std::string_view text, std::vector<ListeningSocket> &out) {
    std::size_t begin = 0;
    for (std::size_t newline = text.find('\n'); newline != std::string_view::npos; newline = text.find('\n', begin)) {
        if (const std::optional<ListeningSocket> socket = parseLine(text.substr(begin, newline - begin)))
            out.push_back(*socket);
        begin = newline + 1;
    }
    return begin;
}

std::vector<std::string> procTablePaths() {
    return {"/proc/net/tcp", "/proc/net/tcp6"};
}

std::vector<ListeningSocket> readTextTables(const std::vector<std::string> &paths, int *opened) {
    std::vector<ListeningSocket> sockets;
    // The tables hold every socket of the network namespace, listening or not, and can run to
    // megabytes: they are parsed a chunk at a time rather than read whole.
    std::string buffer(64 * 1024, '\0');
    for (const std::string &path : paths) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        if (opened)
            ++*opened;
        std::size_t filled = 0;
        for (;;) {
            if (filled == buffer.size())
                buffer.resize(buffer.size() * 2); // a single line longer than the buffer
            const ssize_t n = ::read(fd, buffer.data() + filled, buffer.size() - filled);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            filled += std::size_t(n);
            const std::size_t consumed = parseTableLines(std::string_view(buffer.data(), filled), sockets);
            std::memmove(buffer.data(), buffer.data() + consumed, filled - consumed);
            filled -= consumed;
        }
        ::close(fd);
        // A last line without its newline is still a line.
        if (filled > 0)
            parseTableLines(std::string(buffer.data(), filled) + '\n', sockets);
    }
    return sockets;
}

std::optional<std::vector<ListeningSocket>> readSocketDiag() {
    const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd < 0)
        return std::nullopt;
    std::vector<ListeningSocket> sockets;
    bool complete = true;
    // The kernel fills each part of a dump up to 32 KiB.
    std::vector<char> buffer(64 * 1024);
    std::uint32_t sequence = 0;
    for (const std::uint8_t family : {std::uint8_t(AF_INET), std::uint8_t(AF_INET6)}) {
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
            const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                complete = false;
                break;
            }
            int left = int(n);
            for (auto *part = reinterpret_cast<const nlmsghdr *>(buffer.data()); NLMSG_OK(part, left);
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
                    sockets.push_back(
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

std::optional<std::vector<ListeningSocket>> readListeningSockets() {
    if (std::optional<std::vector<ListeningSocket>> sockets = readSocketDiag())
        return sockets;
    int opened = 0;
    std::vector<ListeningSocket> sockets = readTextTables(procTablePaths(), &opened);
    if (opened == 0)
        return std::nullopt;
    return sockets;
}

} // namespace quaystone::kernel
