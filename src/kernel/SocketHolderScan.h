#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <sys/types.h>

namespace quaystone::kernel {

// A socket whose holders are wanted, with the user that created it.
struct WantedSocket {
    std::uint64_t inode = 0;
    uid_t uid = 0;
};

// One descriptor of one process that refers to a socket.
struct SocketHolder {
    std::uint64_t inode = 0;
    pid_t pid = 0;
    int fd = -1;

    friend bool operator==(const SocketHolder &, const SocketHolder &) = default;
};

// Finds the processes that hold sockets through their /proc/PID/fd links, one readlink per
// descriptor, reading as few processes as it can: a desktop holds hundreds of thousands of
// descriptors and lsof's walk over all of them takes seconds.
//
// The kernel tells no socket's number of holders, so a socket's holders count as known once one
// is found and the whole family around it has been read: the holder's ancestors up to the first
// that does not hold the socket, and every descendant of the topmost one that does. Sharing a
// socket goes through fork (pre-forking servers, socket activation, a program handed its socket
// on exec), so this finds every holder but a process handed the socket over a Unix socket from
// outside its family; such a holder is found again first on the next pass once it was found.
class SocketHolderScan {
public:
    struct Options {
        // Read only the processes of this user (the others' descriptors cannot be read without
        // privilege); every process when absent.
        std::optional<uid_t> onlyUid;
        // Holders from the last pass, checked first with one readlink each.
        std::vector<SocketHolder> known;
    };

    struct Outcome {
        // One descriptor per socket and process, in no particular order.
        std::vector<SocketHolder> holders;
        // The descriptors read, to show what the scan cost.
        std::size_t descriptorsRead = 0;
        // False when /proc could not be read at all.
        bool procReadable = true;
    };

    static Outcome find(const std::vector<WantedSocket> &sockets, const Options &options);

    // Whether /proc shows every process this user could otherwise see: false when it is not
    // mounted, or is mounted with hidepid (which hides other users' processes, and, for a normal
    // user, what lsof would not see either, but whose rules differ from one kernel to the next).
    static bool procShowsProcesses(bool asRoot);
};

} // namespace quaystone::kernel
