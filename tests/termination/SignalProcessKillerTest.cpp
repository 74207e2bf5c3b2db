#include "termination/SignalProcessKiller.h"
#include "termination/ProcessLivenessChecking.h"
#include "termination/ProcessSignaling.h"
#include "termination/Sleeping.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>
#include <string>
#include <vector>

using namespace quaystone;

namespace {

enum class SleepEnd { timeUp, cutShort, throws };

struct Case {
    qint32 pid;
    int refusedCall; // the index of the call answered with error; every other call succeeds
    int error;
    SleepEnd sleepEnd;
    ProcessKillOutcome outcome;
};

// Answers for all three services as the case says, and logs every call; the killer owns one per service.
struct FakeServices final : ProcessSignaling, ProcessLivenessChecking, Sleeping {
    FakeServices(const Case &c, std::vector<std::string> &calls)
        : c(c)
        , calls(calls) {}
    int answer(const std::string &call) {
        calls.push_back(call);
        return int(calls.size()) - 1 == c.refusedCall ? c.error : 0;
    }
    int send(int signal, qint32 pid) override { return answer(std::to_string(signal) + " to " + std::to_string(pid)); }
    int probe(qint32 pid) override { return answer("probe " + std::to_string(pid)); }
    QCoro::Task<bool> sleep(quint64 nanoseconds) override {
        answer("sleep " + std::to_string(nanoseconds));
        if (c.sleepEnd == SleepEnd::throws)
            throw std::runtime_error("cancelled");
        co_return c.sleepEnd == SleepEnd::timeUp;
    }
    const Case &c;
    std::vector<std::string> &calls;
};

TEST(SignalProcessKiller, StopsAtTheFirstRefusalWithItsOutcome) {
    using enum ProcessKillOutcome;
    // A grace period cut short only brings the rest forward; pids 0 and -1 would signal whole groups.
    std::vector<Case> cases = {{42, -1, 0, SleepEnd::timeUp, killed},
                               {42, -1, 0, SleepEnd::cutShort, killed},
                               {42, -1, 0, SleepEnd::throws, killed},
                               {0, -1, 0, SleepEnd::timeUp, failed},
                               {-1, -1, 0, SleepEnd::timeUp, failed}};
    for (const int call : {0, 1, 3, 4}) {
        cases.push_back({42, call, ESRCH, SleepEnd::timeUp, notRunning});
        cases.push_back({42, call, EPERM, SleepEnd::timeUp, permissionDenied});
        cases.push_back({42, call, EIO, SleepEnd::timeUp, failed});
    }
    const std::vector<std::string> everyCall = {"15 to 42", "probe 42", "sleep 2000000000", "probe 42", "9 to 42"};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "pid " << c.pid << ", call " << c.refusedCall << " refused with " << c.error
                                        << ", sleep end " << int(c.sleepEnd));
        std::vector<std::string> calls;
        SignalProcessKiller killer(std::make_unique<FakeServices>(c, calls), std::make_unique<FakeServices>(c, calls),
                                   std::make_unique<FakeServices>(c, calls));
        EXPECT_EQ(QCoro::waitFor(killer.kill(c.pid, std::nullopt)), c.outcome);
        const std::size_t callsMade = c.pid <= 0 ? 0 : c.refusedCall < 0 ? 5 : std::size_t(c.refusedCall) + 1;
        EXPECT_EQ(calls, std::vector<std::string>(everyCall.begin(), everyCall.begin() + callsMade));
    }
}

} // namespace
