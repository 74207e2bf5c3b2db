#include "app/AppConfig.h"
#include "app/LaunchAtLoginControlling.h"

#include <QObject>
#include <gtest/gtest.h>

#include <stdexcept>

using namespace quaystone;

namespace {

// How the fake answers setEnabled.
enum class Answer { accepts, refuses, throws, acceptsButKeepsOldValue };

struct ControllerLog {
    int isEnabledReads = 0;
    std::vector<bool> setEnabledCalls;
};

class FakeController : public LaunchAtLoginControlling {
public:
    FakeController(ControllerLog &log, bool enabled, Answer answer)
        : m_log(log)
        , m_enabled(enabled)
        , m_answer(answer) {}
    bool isEnabled() const override {
        ++m_log.isEnabledReads;
        return m_enabled;
    }
    std::optional<LaunchAtLoginError> setEnabled(bool enabled) override {
        m_log.setEnabledCalls.push_back(enabled);
        switch (m_answer) {
        case Answer::accepts:
            m_enabled = enabled;
            return std::nullopt;
        case Answer::refuses:
            return enabled ? LaunchAtLoginError::writeFailed : LaunchAtLoginError::removeFailed;
        case Answer::throws:
            throw std::runtime_error("refused");
        case Answer::acceptsButKeepsOldValue:
            return std::nullopt;
        }
        return std::nullopt;
    }

private:
    ControllerLog &m_log;
    bool m_enabled;
    Answer m_answer;
};

} // namespace

TEST(AppConfigTest, ConstructionReadsTheControllerOnceAndWritesNothing) {
    for (bool enabled : {false, true}) {
        ControllerLog log;
        AppConfig config(std::make_unique<FakeController>(log, enabled, Answer::accepts));
        EXPECT_EQ(config.launchAtLoginEnabled(), enabled);
        EXPECT_EQ(log.isEnabledReads, 1);
        EXPECT_TRUE(log.setEnabledCalls.empty());
    }
}

TEST(AppConfigTest, PublishesWhatTheControllerReportsAfterEachAttempt) {
    struct Case {
        const char *name;
        bool initially;
        Answer answer;
        bool wanted;
        bool expected;
    };
    const Case cases[] = {
        {"enable", false, Answer::accepts, true, true},
        {"disable", true, Answer::accepts, false, false},
        {"enable while enabled", true, Answer::accepts, true, true},
        {"disable while disabled", false, Answer::accepts, false, false},
        {"refused enable", false, Answer::refuses, true, false},
        {"refused disable", true, Answer::refuses, false, true},
        {"throwing enable", false, Answer::throws, true, false},
        {"throwing disable", true, Answer::throws, false, true},
        {"accepted but still off", false, Answer::acceptsButKeepsOldValue, true, false},
        {"accepted but still on", true, Answer::acceptsButKeepsOldValue, false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ControllerLog log;
        AppConfig config(std::make_unique<FakeController>(log, c.initially, c.answer));
        QObject context;
        int notifications = 0;
        bool valueWhenNotified = !c.expected;
        QObject::connect(&config, &AppConfig::changed, &context, [&] {
            ++notifications;
            valueWhenNotified = config.launchAtLoginEnabled();
        });

        config.setLaunchAtLoginEnabled(c.wanted);

        EXPECT_EQ(log.setEnabledCalls, std::vector<bool>{c.wanted});
        EXPECT_EQ(log.isEnabledReads, 2);
        EXPECT_EQ(config.launchAtLoginEnabled(), c.expected);
        EXPECT_EQ(notifications, 1);
        EXPECT_EQ(valueWhenNotified, c.expected);
    }
}
