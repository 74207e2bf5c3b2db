// The kernel listing beside lsof on a generated desktop: 100 processes holding many descriptors
// (files, pipes, event fds, a few Unix sockets), 30 small servers each listening on one port and a
// pre-forking server (a parent and four workers on one port). Measured at 51,000 and 201,000
// descriptors: a first pass, lsof, both in turn, a refresh after a stop (the holders known from the
// last pass, one server stopped since), and the longest gap in the event loop during a listing.
#include "discovery/KernelPortListingService.h"
#include "discovery/ProcessCommandRunner.h"
#include "support/LoopGaps.h"
#include "support/RealListeners.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <vector>

#include <sys/eventfd.h>
#include <sys/prctl.h>

using namespace quaystone;
using namespace quaystone::bench;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int busyProcesses = 100;
constexpr int servers = 30;
constexpr int workers = 4;

// A child that dies with this process, runs body and then waits to be killed.
template <typename Body>
pid_t spawnChild(Body body) {
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        body();
        for (;;)
            pause();
    }
    return pid;
}

int listenInRange(int &nextPort) {
    for (; nextPort <= 9999; ++nextPort) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(uint16_t(nextPort));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 && listen(fd, 1) == 0) {
            ++nextPort;
            return fd;
        }
        close(fd);
    }
    return -1;
}

class Desktop {
public:
    explicit Desktop(int descriptors) {
        const int perProcess = descriptors / busyProcesses;
        int ready[2];
        if (pipe(ready) != 0)
            return;
        for (int i = 0; i < busyProcesses; ++i) {
            m_busy.push_back(spawnChild([&] {
                rlimit limit{rlim_t(perProcess + 64), rlim_t(perProcess + 64)};
                setrlimit(RLIMIT_NOFILE, &limit);
                for (int n = 3; n < perProcess;) {
                    int pair[2];
                    switch (n % 20) {
                    case 0:
                        if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) == 0)
                            n += 2;
                        break;
                    case 1:
                    case 2:
                        if (pipe(pair) == 0)
                            n += 2;
                        break;
                    case 3:
                        n += eventfd(0, 0) >= 0;
                        break;
                    default:
                        n += open("/dev/null", O_RDONLY) >= 0;
                    }
                }
                (void)!write(ready[1], "r", 1);
            }));
        }
        int port = 3000 + int(getpid() % 5000);
        for (int i = 0; i < servers; ++i) {
            const int fd = listenInRange(port);
            m_servers.push_back(spawnChild([&] { (void)!write(ready[1], "r", 1); }));
            close(fd);
        }
        const int shared = listenInRange(port);
        m_preforking = spawnChild([&] {
            for (int w = 0; w < workers; ++w)
                spawnChild([] {});
            (void)!write(ready[1], "r", 1);
        });
        close(shared);
        m_range = {3000, 9999};
        char c;
        for (int i = 0; i < busyProcesses + servers + 1; ++i)
            (void)!read(ready[0], &c, 1);
        close(ready[0]);
        close(ready[1]);
    }
    ~Desktop() {
        for (pid_t pid : m_busy)
            stop(pid);
        for (pid_t pid : m_servers)
            stop(pid);
        // Its workers die with it.
        stop(m_preforking);
    }

    PortRange range() const { return m_range; }
    // Rows the listing must show: the servers still running, the pre-forking parent and workers.
    qsizetype expectedRows() const { return qsizetype(m_servers.size()) + 1 + workers; }
    bool stopOneServer() {
        if (m_servers.empty())
            return false;
        stop(m_servers.back());
        m_servers.pop_back();
        return true;
    }

private:
    static void stop(pid_t pid) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    std::vector<pid_t> m_busy, m_servers;
    pid_t m_preforking = 0;
    PortRange m_range;
};

// One desktop at a time, made for the size the benchmark asks for.
std::unique_ptr<Desktop> desktop;
int desktopSize = 0;
Desktop &desktopOf(int descriptors) {
    if (desktopSize != descriptors) {
        desktop.reset();
        desktop = std::make_unique<Desktop>(descriptors);
        desktopSize = descriptors;
    }
    return *desktop;
}

// Rows in the range of this load (other listeners of the machine are counted too; at least the
// load's must be found).
bool complete(const KernelPortListingService::Pass &pass, const Desktop &load) {
    return pass.served && pass.entries.size() >= load.expectedRows();
}

void BM_Lsof(benchmark::State &state) {
    desktopOf(int(state.range(0)));
    for (auto _ : state)
        bench::runBareLsof();
}

void BM_KernelFirstPass(benchmark::State &state) {
    Desktop &load = desktopOf(int(state.range(0)));
    for (auto _ : state) {
        const KernelPortListingService::Pass pass = KernelPortListingService::read(load.range(), std::nullopt, {});
        if (!complete(pass, load)) {
            state.SkipWithError("the kernel listing missed listeners");
            break;
        }
    }
}

// Both in turn in every iteration, so that drift in the machine's load falls on both alike.
void BM_KernelOverLsof(benchmark::State &state) {
    Desktop &load = desktopOf(int(state.range(0)));
    Clock::duration lsof{}, kernel{};
    for (auto _ : state) {
        const auto t0 = Clock::now();
        bench::runBareLsof();
        const auto t1 = Clock::now();
        const KernelPortListingService::Pass pass = KernelPortListingService::read(load.range(), std::nullopt, {});
        kernel += Clock::now() - t1;
        lsof += t1 - t0;
        if (!complete(pass, load)) {
            state.SkipWithError("the kernel listing missed listeners");
            break;
        }
    }
    state.counters["lsof_ms"] = std::chrono::duration<double, std::milli>(lsof).count() / double(state.iterations());
    state.counters["kernel_ms"] =
        std::chrono::duration<double, std::milli>(kernel).count() / double(state.iterations());
    state.counters["kernel_over_lsof"] = double(kernel.count()) / double(lsof.count());
}

// A refresh after a stop: the last pass's holders are checked first, one server is gone.
void BM_KernelRefreshAfterStop(benchmark::State &state) {
    Desktop &load = desktopOf(int(state.range(0)));
    std::vector<kernel::SocketHolder> known = KernelPortListingService::read(load.range(), std::nullopt, {}).holders;
    for (auto _ : state) {
        state.PauseTiming();
        const bool stopped = load.stopOneServer();
        state.ResumeTiming();
        KernelPortListingService::Pass pass = KernelPortListingService::read(load.range(), std::nullopt, known);
        if (!stopped || !complete(pass, load)) {
            state.SkipWithError("no server left to stop, or the listing missed listeners");
            break;
        }
        known = std::move(pass.holders);
    }
    // The next benchmark gets a whole desktop again.
    desktop.reset();
    desktopSize = 0;
}

// The longest time the event loop went without serving a 1 ms timer while a first pass runs through
// the service: in wall-clock time, which on a busy machine also counts the time the main thread
// waited for a CPU, and in the main thread's CPU time, the work it did in one go.
void BM_EventLoopStall(benchmark::State &state) {
    Desktop &load = desktopOf(int(state.range(0)));
    double wallMs = 0, busyMs = 0;
    for (auto _ : state) {
        KernelPortListingService service(
            std::make_unique<DefaultPortListingService>(std::make_unique<ProcessCommandRunner>()), std::nullopt);
        const LoopGaps gaps = longestLoopGaps([&]() -> QCoro::Task<> { co_await service.listPorts(load.range()); });
        wallMs = std::max(wallMs, gaps.wallMs);
        busyMs = std::max(busyMs, gaps.busyMs);
    }
    state.counters["longest_gap_ms"] = wallMs;
    state.counters["longest_busy_ms"] = busyMs;
}

} // namespace

// By size, so that each desktop is made once.
BENCHMARK(BM_Lsof)->Arg(51000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_KernelFirstPass)->Arg(51000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KernelOverLsof)->Arg(51000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_KernelRefreshAfterStop)->Arg(51000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
BENCHMARK(BM_Lsof)->Arg(201000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_KernelFirstPass)->Arg(201000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_KernelOverLsof)->Arg(201000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_EventLoopStall)->Arg(201000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

int main(int argc, char **argv) {
    // "--hold N": make the desktop of N descriptors and keep it until standard input ends, for
    // timing whole commands against it from outside.
    if (argc == 3 && std::strcmp(argv[1], "--hold") == 0) {
        desktopOf(std::atoi(argv[2]));
        std::puts("ready");
        std::fflush(stdout);
        char c;
        while (read(STDIN_FILENO, &c, 1) > 0) {
        }
        desktop.reset();
        return 0;
    }
    // Children are forked before any thread exists.
    desktopOf(51000);
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    desktop.reset();
    return 0;
}
