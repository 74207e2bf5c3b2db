#include "termination/SignalProcessKiller.h"
#include "support/TestSupport.h"
#include "termination/ProcessLivenessChecking.h"
#include "termination/ProcessSignaling.h"
#include "termination/Sleeping.h"

#include <QObject>
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <limits>
#include <map>
#include <stdexcept>

using namespace quaystone;

namespace {

// Every call the killer makes, in order, as text: "send 15 42", "probe 42", "sleep 2000000000".
using CallLog = std::vector<std::string>;

class FakeSignaler : public ProcessSignaling {
public:
    FakeSignaler(CallLog &log, std::map<int, int> errorBySignal)
        : m_log(log)
        , m_errorBySignal(std::move(errorBySignal)) {}
    int send(int signal, qint32 pid) override {
        m_log.push_back("send " + std::to_string(signal) + " " + std::to_string(pid));
        return m_errorBySignal[signal];
    }

private:
    CallLog &m_log;
    std::map<int, int> m_errorBySignal;
};

class FakeLivenessChecker : public ProcessLivenessChecking {
public:
    // errors[i] answers the i-th probe; probes past the end succeed.
    FakeLivenessChecker(CallLog &log, std::vector<int> errors)
        : m_log(log)
        , m_errors(std::move(errors)) {}
    int probe(qint32 pid) override {
        m_log.push_back("probe " + std::to_string(pid));
        return m_next < m_errors.size() ? m_errors[m_next++] : 0;
    }

private:
    CallLog &m_log;
    std::vector<int> m_errors;
    std::size_t m_next = 0;
};

enum class SleepEnd { timeUp, cutShort, throws, whenTestSays };

class FakeSleeper : public Sleeping {
public:
    FakeSleeper(CallLog &log, SleepEnd end, test::PendingCalls<bool> *pending = nullptr)
        : m_log(log)
        , m_end(end)
        , m_pending(pending) {}
    QCoro::Task<bool> sleep(quint64 nanoseconds) override {
        m_log.push_back("sleep " + std::to_string(nanoseconds));
        switch (m_end) {
        case SleepEnd::timeUp:
            co_return true;
        case SleepEnd::cutShort:
            co_return false;
        case SleepEnd::throws:
            throw std::runtime_error("cancelled");
        case SleepEnd::whenTestSays:
            co_return co_await m_pending->next();
        }
        co_return true;
    }

private:
    CallLog &m_log;
    SleepEnd m_end;
    test::PendingCalls<bool> *m_pending;
};

struct Answers {
    std::map<int, int> signalErrors;
    std::vector<int> probeErrors;
    SleepEnd sleepEnd = SleepEnd::timeUp;
};

SignalProcessKiller makeKiller(CallLog &log, const Answers &answers, test::PendingCalls<bool> *pending = nullptr) {
    return SignalProcessKiller(std::make_unique<FakeSignaler>(log, answers.signalErrors),
                               std::make_unique<FakeLivenessChecker>(log, answers.probeErrors),
                               std::make_unique<FakeSleeper>(log, answers.sleepEnd, pending));
}

const CallLog fullSequence = {"send 15 42", "probe 42", "sleep 2000000000", "probe 42", "send 9 42"};

CallLog firstCalls(std::size_t count) {
    return CallLog(fullSequence.begin(), fullSequence.begin() + count);
}

} // namespace

TEST(SignalProcessKillerTest, EachRefusalEndsTheSequenceWithItsOutcome) {
    struct ErrorCase {
        int error;
        ProcessKillOutcome outcome;
    };
    const ErrorCase errors[] = {{ESRCH, ProcessKillOutcome::notRunning},
                                {EPERM, ProcessKillOutcome::permissionDenied},
                                {EINVAL, ProcessKillOutcome::failed},
                                {EIO, ProcessKillOutcome::failed}};
    struct Step {
        const char *name;
        std::size_t callsMade;
        Answers (*failWith)(int error);
    };
    const Step steps[] = {
        {"SIGTERM", 1,
         [](int e) {
             return Answers{{{SIGTERM, e}}, {}};
         }},
        {"first probe", 2,
         [](int e) {
             return Answers{{}, {e}};
         }},
        {"second probe", 4,
         [](int e) {
             return Answers{{}, {0, e}};
         }},
        {"SIGKILL", 5,
         [](int e) {
             return Answers{{{SIGKILL, e}}, {}};
         }},
    };

    for (const Step &step : steps) {
        for (const ErrorCase &c : errors) {
            SCOPED_TRACE(std::string(step.name) + " refused with errno " + std::to_string(c.error));
            CallLog log;
            SignalProcessKiller killer = makeKiller(log, step.failWith(c.error));
            EXPECT_EQ(QCoro::waitFor(killer.kill(42)), c.outcome);
            EXPECT_EQ(log, firstCalls(step.callsMade));
        }
    }

    CallLog log;
    SignalProcessKiller killer = makeKiller(log, Answers{});
    EXPECT_EQ(QCoro::waitFor(killer.kill(42)), ProcessKillOutcome::killed);
    EXPECT_EQ(log, fullSequence);
}

TEST(SignalProcessKillerTest, AGracePeriodCutShortOnlyBringsTheRestForward) {
    for (SleepEnd end : {SleepEnd::cutShort, SleepEnd::throws}) {
        SCOPED_TRACE(end == SleepEnd::cutShort ? "cut short" : "throws");
        CallLog log;
        Answers answers;
        answers.sleepEnd = end;
        SignalProcessKiller killer = makeKiller(log, answers);
        EXPECT_EQ(QCoro::waitFor(killer.kill(42)), ProcessKillOutcome::killed);
        EXPECT_EQ(log, fullSequence);
    }
}

TEST(SignalProcessKillerTest, PidsThatNameGroupsAreNeverSignalled) {
    for (qint32 pid : {0, -1, -42, std::numeric_limits<qint32>::min()}) {
        SCOPED_TRACE(pid);
        CallLog log;
        SignalProcessKiller killer = makeKiller(log, Answers{});
        EXPECT_EQ(QCoro::waitFor(killer.kill(pid)), ProcessKillOutcome::failed);
        EXPECT_TRUE(log.empty());
    }
}

TEST(SignalProcessKillerTest, OverlappingKillsRunIndependently) {
    CallLog log;
    test::PendingCalls<bool> sleeps;
    Answers answers;
    answers.sleepEnd = SleepEnd::whenTestSays;
    answers.probeErrors = {0, 0, 0, ESRCH}; // the second kill's process obeys SIGTERM
    SignalProcessKiller killer = makeKiller(log, answers, &sleeps);

    std::optional<ProcessKillOutcome> first, second;
    QObject context;
    QCoro::connect(killer.kill(7), &context, [&](ProcessKillOutcome o) { first = o; });
    QCoro::connect(killer.kill(8), &context, [&](ProcessKillOutcome o) { second = o; });

    ASSERT_EQ(sleeps.waiting(), 2u);
    EXPECT_EQ(log, (CallLog{"send 15 7", "probe 7", "sleep 2000000000", "send 15 8", "probe 8", "sleep 2000000000"}));
    EXPECT_FALSE(first || second);

    log.clear();
    sleeps.complete(true);
    test::drainEvents();
    EXPECT_EQ(first, ProcessKillOutcome::killed);
    EXPECT_FALSE(second);
    EXPECT_EQ(log, (CallLog{"probe 7", "send 9 7"}));

    log.clear();
    sleeps.complete(true);
    test::drainEvents();
    EXPECT_EQ(second, ProcessKillOutcome::notRunning);
    EXPECT_EQ(log, CallLog{"probe 8"});
}
