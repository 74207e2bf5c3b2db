#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quaystone {

// One socket in the listening state as the kernel's table shows it.
struct ListeningSocket {
    std::uint16_t port = 0;
    std::uint32_t uid = 0; // the user that created the socket
    std::uint64_t inode = 0;
    // The cgroup of the process that created the socket (sock_diag only; 0 when unknown).
    std::uint64_t cgroupId = 0;

    friend bool operator==(const ListeningSocket &, const ListeningSocket &) = default;
};

namespace kernel {

// The listening TCP sockets, IPv4 and IPv6, through sock_diag netlink, which walks only the
// listening sockets; absent when the kernel refuses it.
std::optional<std::vector<ListeningSocket>> readSocketDiag();

// The text tables in the format of /proc/net/tcp, which walk every socket slot of the system.
// A table that cannot be read (IPv6 turned off) adds nothing; opened counts those that could.
std::vector<ListeningSocket> readTextTables(const std::vector<std::string> &paths, int *opened = nullptr);
std::vector<std::string> procTablePaths();

// Parses the complete lines of text into out, skipping lines that are not a socket line in the
// kernel's format; returns where the unfinished last line begins.
std::size_t parseTableLines(std::string_view text, std::vector<ListeningSocket> &out);

// sock_diag, else the text tables; absent when neither can be read, so that an unreadable
// table is never taken for one without listeners.
std::optional<std::vector<ListeningSocket>> readListeningSockets();

} // namespace kernel
} // namespace quaystone
