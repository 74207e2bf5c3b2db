// quaystone-stop-port PORT UID
//
// Run as root through pkexec, it stops the processes of user UID that hold a listening TCP
// socket of UID on PORT: the row the user chose, and nothing else. The kernel's socket tables
// name the sockets and their owner, the descriptors under /proc name the processes. It takes
// nothing from its caller but the port and the uid: the environment is dropped before anything
// else, and only absolute paths under /proc are read. Pid 1, the helper and its ancestors
// (pkexec, the app) are never signalled. It prints one line per process it found.

#include "kernel/StopPort.h"
#include "model/StopPortHelperProtocol.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
    // pkexec sanitises the environment; this helper does not rely on it and uses none.
    clearenv();

    using namespace quaystone;
    if (argc != 3) {
        std::fputs("usage: quaystone-stop-port PORT UID (one port, 3000-9999, and the uid of its listener)\n", stderr);
        return stopport::refusedInput;
    }
    const std::optional<int> port = stopport::parsePort(argv[1]);
    const std::optional<uid_t> uid = stopport::parseUid(argv[2]);
    if (!port || !uid) {
        std::fputs("quaystone-stop-port: the port must be plain decimal digits in 3000-9999, the uid plain digits\n",
                   stderr);
        return stopport::refusedInput;
    }

    const kernel::StopPortResult result = kernel::stopPort(*port, *uid);
    for (const kernel::StoppedProcess &process : result.processes)
        std::printf("%s\n", kernel::reportLine(process).c_str());
    if (!result.message.empty())
        std::fprintf(stderr, "quaystone-stop-port: %s\n", result.message.c_str());
    return result.status;
}
