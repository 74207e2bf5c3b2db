#pragma once

#include "kernel/PinnedProcess.h"

#include <cstdint>
#include <optional>
#include <set>
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
// A stop, which must leave no holder, reads every process of its user instead (pinAll).
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
        // False when /proc could not be opened or listed.
        bool procReadable = true;
    };

    static Outcome find(const std::vector<WantedSocket> &sockets, const Options &options);

    struct Pinned {
        // Ordered by pid.
        std::vector<PinnedProcess> holders;
        // A process whose descriptors could not be read, which may hide a holder.
        bool incomplete = false;
    };

    // For a stop, every process whose real, effective and saved uid is uid and that holds one of
    // the sockets, read to the last process rather than until each socket has a holder. Each is
    // pinned before its descriptors are read and checked again after; where the main thread has
    // exited, or its table shows no descriptors, the tables of all its other threads are read.
    static Pinned pinAll(const std::set<std::uint64_t> &inodes, uid_t uid);

    // Whether /proc can be trusted to show the processes this user may read: false when it is not
    // mounted, or, for a normal user, mounted with hidepid, whose rules differ from one kernel to
    // the next; the listing then leaves the reading to lsof.
    static bool procShowsProcesses(bool asRoot);
};

} // namespace quaystone::kernel
