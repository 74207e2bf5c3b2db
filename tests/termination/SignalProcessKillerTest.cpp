#include "termination/SignalProcessKiller.h"
#include "termination/ProcessExitWaiting.h"
#include "termination/ProcessHandle.h"
#include "termination/ProcessOpening.h"
#include "termination/ProcessSignaling.h"
#include "termination/ProcessStartTimeReading.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>

using namespace quaystone;

namespace {

constexpr quint64 listed = 5000;

enum class Grace { runsOut, exits, throws };

struct Case {
    const char *name;
    qint32 pid;
    std::optional<quint64> startTime;
    int openError;                                // 0: a pidfd is opened
    std::vector<std::optional<quint64>> readings; // start times read, in turn; the last one repeats
    int termError, killError;
    Grace grace;
    ProcessKillOutcome outcome;
    std::vector<std::string> calls;
};

// Answers for all four services as the case says and logs every call; the killer owns one per service.
struct FakeServices final : ProcessOpening, ProcessStartTimeReading, ProcessSignaling, ProcessExitWaiting {
    FakeServices(const Case &c, std::vector<std::string> &calls)
        : c(c)
        , calls(calls) {}
    static std::string via(const ProcessHandle &process) { return process.hasPidfd() ? " via pidfd" : " via pid"; }

    ProcessOpenResult open(qint32 pid) override {
        calls.push_back("open " + std::to_string(pid));
        if (c.openError)
            return c.openError;
        // A real descriptor, since the handle closes it.
        return ProcessHandle(pid, ::open("/dev/null", O_RDONLY | O_CLOEXEC));
    }
    std::optional<quint64> startTime(qint32 pid) override {
        calls.push_back("start time " + std::to_string(pid));
        return c.readings.at(std::min(readingsGiven++, c.readings.size() - 1));
    }
    int send(int signal, const ProcessHandle &process) override {
        calls.push_back(std::to_string(signal) + " to " + std::to_string(process.pid()) + via(process));
        return signal == SIGTERM ? c.termError : c.killError;
    }
    QCoro::Task<bool> waitForExit(const ProcessHandle &process, quint64 nanoseconds) override {
        calls.push_back("wait " + std::to_string(nanoseconds) + via(process));
        if (c.grace == Grace::throws)
            throw std::runtime_error("cancelled");
        co_return c.grace == Grace::exits;
    }
    const Case &c;
    std::vector<std::string> &calls;
    std::size_t readingsGiven = 0;
};

TEST(SignalProcessKiller, SignalsOnlyTheListedProcessAndStopsAtTheFirstRefusal) {
    using enum ProcessKillOutcome;
    const std::string open = "open 42", read = "start time 42", wait = "wait 2000000000 via pidfd",
                      term = "15 to 42 via pidfd", kill = "9 to 42 via pidfd";
    const std::string waitPid = "wait 2000000000 via pid", termPid = "15 to 42 via pid", killPid = "9 to 42 via pid";
    const auto runsOut = Grace::runsOut;
    const std::optional<quint64> none, reused = listed + 1;
    // One case a line: name, pid, listed start time, open error, start times read in turn, SIGTERM and
    // SIGKILL errors, grace period, outcome, calls.
    // clang-format off
    const std::vector<Case> cases = {
        {"still there after the grace period", 42, listed, 0, {listed}, 0, 0, runsOut, killed, {open, read, term, wait, kill}},
        {"exits during the grace period", 42, listed, 0, {listed}, 0, 0, Grace::exits, notRunning, {open, read, term, wait}},
        {"a failed wait only brings SIGKILL forward", 42, listed, 0, {listed}, 0, 0, Grace::throws, killed, {open, read, term, wait, kill}},
        {"pid reused since the listing", 42, listed, 0, {reused}, 0, 0, runsOut, notRunning, {open, read}},
        {"gone between open and read", 42, listed, 0, {none}, 0, 0, runsOut, notRunning, {open, read}},
        {"gone before open", 42, listed, ESRCH, {listed}, 0, 0, runsOut, notRunning, {open}},
        {"out of descriptors", 42, listed, EMFILE, {listed}, 0, 0, runsOut, failed, {open}},
        {"SIGTERM refused", 42, listed, 0, {listed}, EPERM, 0, runsOut, permissionDenied, {open, read, term}},
        {"SIGTERM fails otherwise", 42, listed, 0, {listed}, EIO, 0, runsOut, failed, {open, read, term}},
        {"gone before SIGKILL", 42, listed, 0, {listed}, 0, ESRCH, runsOut, notRunning, {open, read, term, wait, kill}},
        {"SIGKILL refused", 42, listed, 0, {listed}, 0, EPERM, runsOut, permissionDenied, {open, read, term, wait, kill}},
        // Never signal what was not verified, nor a whole process group.
        {"no listed start time", 42, none, 0, {listed}, 0, 0, runsOut, failed, {}},
        {"pid 0", 0, listed, 0, {listed}, 0, 0, runsOut, failed, {}},
        {"pid -1", -1, listed, 0, {listed}, 0, 0, runsOut, failed, {}},
        // Without pidfds the start time is checked before each signal.
        {"no pidfds", 42, listed, ENOSYS, {listed}, 0, 0, runsOut, killed, {open, read, termPid, waitPid, read, killPid}},
        {"no pidfds, pid reused during the grace period", 42, listed, ENOSYS, {listed, reused}, 0, 0, runsOut, notRunning, {open, read, termPid, waitPid, read}},
        {"no pidfds, pid reused since the listing", 42, listed, ENOSYS, {none}, 0, 0, runsOut, notRunning, {open, read}},
        {"no pidfds, SIGKILL refused", 42, listed, ENOSYS, {listed}, 0, EPERM, runsOut, permissionDenied, {open, read, termPid, waitPid, read, killPid}},
    };
    // clang-format on
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> calls;
        SignalProcessKiller killer(std::make_unique<FakeServices>(c, calls), std::make_unique<FakeServices>(c, calls),
                                   std::make_unique<FakeServices>(c, calls), std::make_unique<FakeServices>(c, calls));
        EXPECT_EQ(QCoro::waitFor(killer.kill(c.pid, c.startTime)), c.outcome);
        EXPECT_EQ(calls, c.calls);
    }
}

} // namespace
