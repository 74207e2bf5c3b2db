// Reading the kernel's socket tables while this process holds thousands of listeners in range,
// and turning them into rows of other users' listeners, as a listing run by a normal user does.
#include "discovery/ListeningSocketTable.h"
#include "discovery/SystemPortListingService.h"
#include "support/RealListeners.h"

#include <benchmark/benchmark.h>

using namespace quaystone;
using namespace quaystone::bench;

namespace {

Listeners *listeners = nullptr;

void BM_ReadSocketTables(benchmark::State &state) {
    const ListeningSocketTable table;
    qsizetype sockets = 0;
    for (auto _ : state) {
        sockets = table.read().size();
        benchmark::DoNotOptimize(sockets);
    }
    state.counters["listeners"] = listeners->size();
    state.counters["sockets"] = static_cast<double>(sockets);
}

// The text tables walk every socket slot of the system, listening or not: the fallback's cost.
void BM_ReadProcTextTables(benchmark::State &state) {
    qsizetype sockets = 0;
    for (auto _ : state) {
        sockets = ListeningSocketTable::readTextTables(ListeningSocketTable::procTablePaths()).size();
        benchmark::DoNotOptimize(sockets);
    }
    state.counters["sockets"] = static_cast<double>(sockets);
}

// The same read, with every socket taken as another user's: the most rows the step can make.
void BM_ReadSocketTablesIntoRows(benchmark::State &state) {
    const ListeningSocketTable table;
    qsizetype rows = 0;
    for (auto _ : state) {
        rows = SystemPortListingService::foreignListeners(table.read(), PortRange{3000, 9999}, quint32(-1)).size();
        benchmark::DoNotOptimize(rows);
    }
    state.counters["rows"] = static_cast<double>(rows);
}

} // namespace

BENCHMARK(BM_ReadSocketTables)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadProcTextTables)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadSocketTablesIntoRows)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv) {
    return runBenchmarksHoldingListeners(argc, argv, listeners);
}
