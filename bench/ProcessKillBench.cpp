// How long a kill of a real child takes: for a child that obeys SIGTERM, the time the grace
// period runs on after the process has gone (the pidfd ends it); for one that ignores SIGTERM,
// how far past the 2 s grace period SIGKILL comes.
#include "termination/ProcStatStartTimeReader.h"
#include "termination/SignalProcessKiller.h"

#include <QCoreApplication>
#include <QProcess>
#include <benchmark/benchmark.h>

#include <chrono>

using namespace quaystone;

namespace {

void killChild(benchmark::State &state, const char *script) {
    using Clock = std::chrono::steady_clock;
    const auto killer = SignalProcessKiller::makeDefault();
    for (auto _ : state) {
        state.PauseTiming();
        QProcess child;
        child.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QString::fromLatin1(script)});
        if (!child.waitForReadyRead(10000)) {
            state.SkipWithError("the child did not start");
            break;
        }
        const auto pid = qint32(child.processId());
        const auto startTime = ProcStatStartTimeReader().startTime(pid);
        state.ResumeTiming();

        const auto start = Clock::now();
        const ProcessKillOutcome outcome = QCoro::waitFor(killer->kill(pid, startTime));
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());

        state.PauseTiming();
        if (outcome == ProcessKillOutcome::failed || outcome == ProcessKillOutcome::permissionDenied)
            state.SkipWithError("the kill was refused");
        child.waitForFinished(5000);
        state.ResumeTiming();
    }
}

void BM_KillChildThatObeysSIGTERM(benchmark::State &state) {
    killChild(state, "echo ready; exec sleep 30");
}

void BM_KillChildThatIgnoresSIGTERM(benchmark::State &state) {
    killChild(state, "trap '' TERM; echo ready; exec sleep 30");
}

} // namespace

BENCHMARK(BM_KillChildThatObeysSIGTERM)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);
BENCHMARK(BM_KillChildThatIgnoresSIGTERM)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
