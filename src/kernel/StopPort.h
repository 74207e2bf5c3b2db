#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quaystone::kernel {

// One process that held the port, and what became of it.
struct StoppedProcess {
    int pid = 0;
    std::string name;    // the kernel's name of the process (comm), as it was
    std::string failure; // empty when it was stopped

    friend bool operator==(const StoppedProcess &, const StoppedProcess &) = default;
};

struct StopPortResult {
    int status = 0; // a stopport::ExitStatus
    std::vector<StoppedProcess> processes;
    std::string message; // why nothing was tried, when nothing was
};

// The privileged stop: every process of user uid (real, effective and saved uid) that holds a
// LISTEN socket that uid owns on port gets SIGTERM, then SIGKILL after 2 s. Nothing else is
// signalled: not a process of another user the socket was passed to, not a listener of another
// user on the same port, not pid 1, the caller or its ancestors, not a container engine's port
// forwarder (told by its executable). Each process is pinned by its pidfd and start time before
// its descriptors are read, and signalled through that pidfd.
StopPortResult stopPort(int port, uid_t uid);

// One line of the helper's output per process: "stopped PID NAME" or "not stopped PID NAME:
// REASON", the name with every byte that is not printable ASCII, the backslash and the colon
// written as \xNN, so that nothing it holds can steer a terminal or break the line.
std::string reportLine(const StoppedProcess &process);
// The line read back; absent for anything else.
std::optional<StoppedProcess> parseReportLine(std::string_view line);

} // namespace quaystone::kernel
