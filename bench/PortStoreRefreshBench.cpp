// A whole refresh pass of the store over the real services while this process holds thousands
// of listeners (lsof, decoding, parsing, filtering, the kernel's socket tables, the per-process
// reads of directory, name, command line, start time and owner, reconciliation, publishing),
// beside bare lsof in the same run; and the longest time the event loop goes unserved during a
// pass, with the popover rendering each change, also for listings far larger than this machine's
// listeners (100,000 lines; about 50 MB).
#include "discovery/DefaultPortListingService.h"
#include "discovery/ProcessCommandRunner.h"
#include "discovery/ProcessWorkingDirectoryResolver.h"
#include "discovery/SystemPortListingService.h"
#include "model/PortStore.h"
#include "support/LoopGaps.h"
#include "support/RealListeners.h"
#include "termination/SignalProcessKiller.h"
#include "views/PopoverRootView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <ctime>

#include <unistd.h>

using namespace quaystone;
using namespace quaystone::bench;

namespace {

Listeners *listeners = nullptr;

// The app's listing, told that it runs as this user even when that is root, so that the pass
// reads the socket tables as it does for a normal user (this process's own sockets are then
// left to lsof, as a normal user's are).
std::unique_ptr<PortStore> realStore(QString lsofPath = DefaultPortListingService::defaultLsofPath()) {
    return std::make_unique<PortStore>(
        std::make_unique<SystemPortListingService>(
            std::make_unique<DefaultPortListingService>(std::make_unique<ProcessCommandRunner>(), LsofParser{},
                                                        std::move(lsofPath)),
            ListeningSocketTable(), quint32(::geteuid())),
        std::make_unique<ProcessWorkingDirectoryResolver>(), SignalProcessKiller::makeDefault());
}

// A stand-in for lsof that prints `lines` listeners as lsof prints them, `inRange` of them on ports in
// the watched range (7,000 ports for each of a run of low pids: kernel threads and early services, so
// that their working directories are read as for real processes), the others on ports outside it.
class GeneratedLsof {
public:
    GeneratedLsof(int lines, int inRange) {
        QFile output(m_directory.filePath("output"));
        output.open(QIODevice::WriteOnly);
        output.write("COMMAND     PID USER   FD   TYPE   DEVICE SIZE/OFF NODE NAME\n");
        for (int i = 0; i < lines; ++i) {
            const int pid = 1 + i / 7000;
            const int port = i < inRange ? 3000 + i % 7000 : 10000 + i % 55000;
            output.write(QStringLiteral("node-serve %1 developer 23u IPv6 0x%2 0t0 TCP [::1]:%3 (LISTEN)\n")
                             .arg(pid, 7)
                             .arg(0xffff8d3a00000000ull + quint64(i), 0, 16)
                             .arg(port)
                             .toLatin1());
        }
        m_bytes = output.size();
        QFile script(path());
        script.open(QIODevice::WriteOnly);
        script.write("#!/bin/sh\nexec cat '" + output.fileName().toLocal8Bit() + "'\n");
        script.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    }
    QString path() const { return m_directory.filePath("lsof"); }
    qint64 bytes() const { return m_bytes; }

private:
    QTemporaryDir m_directory;
    qint64 m_bytes = 0;
};

// Bare lsof and a whole pass in turn in every iteration, so that drift in the machine's load
// falls on both alike.
void BM_RefreshPassOverBareLsof(benchmark::State &state) {
    using Clock = std::chrono::steady_clock;
    auto store = realStore();
    Clock::duration bare{}, pass{};
    for (auto _ : state) {
        const auto t0 = Clock::now();
        runBareLsof();
        const auto t1 = Clock::now();
        QCoro::waitFor(store->refresh());
        const auto t2 = Clock::now();
        bare += t1 - t0;
        pass += t2 - t1;
    }
    const auto ms = [&](Clock::duration d) {
        return std::chrono::duration<double, std::milli>(d).count() / static_cast<double>(state.iterations());
    };
    state.counters["rows"] = static_cast<double>(store->entries().size());
    state.counters["bare_ms"] = ms(bare);
    state.counters["pass_ms"] = ms(pass);
    state.counters["overhead_pct"] = 100.0 * (ms(pass) / ms(bare) - 1.0);
}

// Gaps of state's iterations, as counters.
void reportGaps(benchmark::State &state, const std::function<QCoro::Task<>()> &work) {
    LoopGaps longest;
    for (auto _ : state) {
        const LoopGaps gaps = longestLoopGaps(work);
        longest = {std::max(longest.wallMs, gaps.wallMs), std::max(longest.busyMs, gaps.busyMs)};
    }
    state.counters["longest_gap_ms"] = longest.wallMs;
    state.counters["longest_busy_ms"] = longest.busyMs;
}

void BM_LongestLoopGapDuringPass(benchmark::State &state) {
    auto store = realStore();
    PopoverRootView view(*store);
    view.show();
    reportGaps(state, [&] { return store->refresh(); });
}

// The same over generated listings of state.range(0) lines, state.range(1) of them in the range,
// through the real runner, parser, working-directory reads, store and popover. Every pass lists
// everything anew.
void BM_LongestLoopGapOverOutput(benchmark::State &state) {
    GeneratedLsof lsof(int(state.range(0)), int(state.range(1)));
    auto store = realStore(lsof.path());
    PopoverRootView view(*store);
    view.show();
    reportGaps(state, [&] { return store->refresh(); });
    if (store->refreshFailure() || store->entries().size() != state.range(1))
        state.SkipWithError("the generated listing was not listed whole");
    state.counters["output_mb"] = double(lsof.bytes()) / 1e6;
}

// The same gap over the bare listing, to tell the store's share from the child process start.
void BM_LongestLoopGapDuringListing(benchmark::State &state) {
    DefaultPortListingService listing(std::make_unique<ProcessCommandRunner>());
    reportGaps(state, [&]() -> QCoro::Task<> {
        benchmark::DoNotOptimize(co_await listing.listPorts(PortStore::defaultRange));
    });
}

} // namespace

BENCHMARK(BM_RefreshPassOverBareLsof)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
BENCHMARK(BM_LongestLoopGapDuringPass)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
BENCHMARK(BM_LongestLoopGapDuringListing)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
// Lines of output and listeners in range: 550,000 lines are about 50 MB.
BENCHMARK(BM_LongestLoopGapOverOutput)
    ->Args({5000, 5000})
    ->Args({100000, 100000})
    ->Args({550000, 100000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

int main(int argc, char **argv) {
    // The popover renders headless, as in the view benchmarks.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return runBenchmarksHoldingListeners(argc, argv, listeners);
}
