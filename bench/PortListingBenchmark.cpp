// The real listing (ProcessCommandRunner running lsof, decoding, parsing, filtering) against bare lsof
// run with the same arguments, both while this process holds thousands of listening sockets.
#include "discovery/DefaultPortListingService.h"
#include "discovery/ProcessCommandRunner.h"
#include "support/RealListeners.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <optional>

using namespace quaystone;

namespace {

using namespace quaystone::bench;

Listeners *listeners = nullptr;

QCoro::Task<> storeListing(DefaultPortListingService *service, std::optional<PortListingResult> *out) {
    out->emplace(co_await service->listPorts(PortRange{3000, 9999}));
}

// Runs one listing to its end on a local event loop; the number of entries, or -1 on failure.
qsizetype runListing(DefaultPortListingService &service) {
    std::optional<PortListingResult> result;
    QCoro::waitFor(storeListing(&service, &result));
    return result && result->hasValue() ? result->value().size() : -1;
}

void BM_BareLsof(benchmark::State &state) {
    for (auto _ : state) {
        if (runBareLsof() < 0) {
            state.SkipWithError("lsof could not be started");
            break;
        }
    }
    state.counters["listeners"] = listeners->size();
}

void BM_Listing(benchmark::State &state) {
    DefaultPortListingService service(std::make_unique<ProcessCommandRunner>());
    qsizetype entries = 0;
    for (auto _ : state) {
        entries = runListing(service);
        if (entries < listeners->size()) {
            state.SkipWithError("the listing missed listeners");
            break;
        }
    }
    state.counters["listeners"] = listeners->size();
    state.counters["entries"] = static_cast<double>(entries);
}

// Both in turn in every iteration, so that drift in the machine's load falls on both alike.
void BM_ListingOverBareLsof(benchmark::State &state) {
    using Clock = std::chrono::steady_clock;
    DefaultPortListingService service(std::make_unique<ProcessCommandRunner>());
    Clock::duration bare{}, listing{};
    for (auto _ : state) {
        const auto t0 = Clock::now();
        runBareLsof();
        const auto t1 = Clock::now();
        runListing(service);
        const auto t2 = Clock::now();
        bare += t1 - t0;
        listing += t2 - t1;
    }
    const auto ms = [&](Clock::duration d) {
        return std::chrono::duration<double, std::milli>(d).count() / static_cast<double>(state.iterations());
    };
    state.counters["bare_ms"] = ms(bare);
    state.counters["listing_ms"] = ms(listing);
    state.counters["overhead_pct"] = 100.0 * (ms(listing) / ms(bare) - 1.0);
}

} // namespace

BENCHMARK(BM_BareLsof)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Listing)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ListingOverBareLsof)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

int main(int argc, char **argv) {
    return runBenchmarksHoldingListeners(argc, argv, listeners);
}
