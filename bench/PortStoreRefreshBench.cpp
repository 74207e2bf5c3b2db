// A whole refresh pass of the store over the real services while this process holds thousands
// of listeners (lsof, decoding, parsing, filtering, the kernel's socket tables, the per-process
// reads of directory, name, command line, start time and owner, reconciliation, publishing), beside bare lsof in the
// same run; and the longest time the event loop goes unserved during a pass.
#include "discovery/DefaultPortListingService.h"
#include "discovery/ProcessCommandRunner.h"
#include "discovery/ProcessWorkingDirectoryResolver.h"
#include "discovery/SystemPortListingService.h"
#include "model/PortStore.h"
#include "support/RealListeners.h"
#include "termination/SignalProcessKiller.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>

#include <unistd.h>

using namespace quaystone;
using namespace quaystone::bench;

namespace {

Listeners *listeners = nullptr;

// The app's listing, told that it runs as this user even when that is root, so that the pass
// reads the socket tables as it does for a normal user (this process's own sockets are then
// left to lsof, as a normal user's are).
std::unique_ptr<PortStore> realStore() {
    return std::make_unique<PortStore>(
        std::make_unique<SystemPortListingService>(
            std::make_unique<DefaultPortListingService>(std::make_unique<ProcessCommandRunner>()),
            ListeningSocketTable(), quint32(::geteuid())),
        std::make_unique<ProcessWorkingDirectoryResolver>(), SignalProcessKiller::makeDefault());
}

// Runs the work to its end on the event loop and returns the longest time, in ms, that the
// loop went without serving a 1 ms timer.
double longestLoopGapMs(const std::function<QCoro::Task<>()> &work) {
    QElapsedTimer sinceTick;
    qint64 gapNs = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        gapNs = std::max(gapNs, sinceTick.nsecsElapsed());
        sinceTick.restart();
    });
    sinceTick.start();
    ticker.start();
    QCoro::waitFor(work());
    gapNs = std::max(gapNs, sinceTick.nsecsElapsed());
    return static_cast<double>(gapNs) / 1e6;
}

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

void BM_LongestLoopGapDuringPass(benchmark::State &state) {
    auto store = realStore();
    double longest = 0;
    for (auto _ : state)
        longest = std::max(longest, longestLoopGapMs([&] { return store->refresh(); }));
    state.counters["longest_gap_ms"] = longest;
}

// The same gap over the bare listing, to tell the store's share from the child process start.
void BM_LongestLoopGapDuringListing(benchmark::State &state) {
    DefaultPortListingService listing(std::make_unique<ProcessCommandRunner>());
    double longest = 0;
    for (auto _ : state) {
        longest = std::max(longest, longestLoopGapMs([&]() -> QCoro::Task<> {
                               benchmark::DoNotOptimize(co_await listing.listPorts(PortStore::defaultRange));
                           }));
    }
    state.counters["longest_gap_ms"] = longest;
}

} // namespace

BENCHMARK(BM_RefreshPassOverBareLsof)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
BENCHMARK(BM_LongestLoopGapDuringPass)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);
BENCHMARK(BM_LongestLoopGapDuringListing)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

int main(int argc, char **argv) {
    return runBenchmarksHoldingListeners(argc, argv, listeners);
}
