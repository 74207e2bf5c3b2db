#pragma once

// Real listeners and bare lsof, shared by the benchmarks that compare the listing with lsof.
#include "discovery/DefaultPortListingService.h"

#include <QByteArray>
#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include <cstdio>

#include <cerrno>
#include <optional>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace quaystone::bench {

inline constexpr int wantedListeners = 5000;

// Loopback sockets listening on free ports from 3000 up, close-on-exec so that lsof does not inherit
// thousands of descriptors.
class Listeners {
public:
    explicit Listeners(int count) {
        // The default soft limit of 1024 descriptors is far too low.
        rlimit limit{};
        if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
            limit.rlim_cur = limit.rlim_max;
            setrlimit(RLIMIT_NOFILE, &limit);
        }
        for (int port = 3000; port <= 9999 && static_cast<int>(m_sockets.size()) < count; ++port) {
            const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (fd < 0)
                break;
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<uint16_t>(port));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 && listen(fd, 1) == 0)
                m_sockets.push_back(fd);
            else
                close(fd);
        }
    }
    ~Listeners() {
        for (int fd : m_sockets)
            close(fd);
    }
    Listeners(const Listeners &) = delete;
    Listeners &operator=(const Listeners &) = delete;

    int size() const { return static_cast<int>(m_sockets.size()); }

private:
    std::vector<int> m_sockets;
};

// Spawns lsof, reads its standard output to the end (standard error goes to /dev/null) and reaps it.
// Returns the number of bytes read, or -1 when it could not be started.
inline qsizetype runBareLsof() {
    const QByteArray path = DefaultPortListingService::defaultLsofPath().toLocal8Bit();
    std::vector<QByteArray> arguments{path};
    for (const QString &a : DefaultPortListingService::lsofArguments())
        arguments.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, path.constData(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        return -1;
    }
    qsizetype total = 0;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = read(out[0], buffer, sizeof buffer);
        if (n > 0)
            total += n;
        else if (n == 0 || errno != EINTR)
            break;
    }
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return total;
}

// The benchmarks' main: runs them all while this process holds wantedListeners listeners,
// published through `listeners` for their use.
inline int runBenchmarksHoldingListeners(int argc, char **argv, Listeners *&listeners) {
    // A benchmark that needs widgets makes its own QApplication first.
    std::optional<QCoreApplication> app;
    if (!QCoreApplication::instance())
        app.emplace(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    Listeners held(wantedListeners);
    listeners = &held;
    if (held.size() < wantedListeners)
        std::fprintf(stderr, "only %d of %d ports could be listened on\n", held.size(), wantedListeners);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace quaystone::bench
