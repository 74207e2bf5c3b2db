#include "app/LaunchOptions.h"

#include <gtest/gtest.h>

using namespace quaystone;

TEST(LaunchOptions, OptionsAreWholeCaseSensitiveArgumentsAnywhere) {
    const QString program = QStringLiteral("/usr/bin/quaystone");
    const QString host = QStringLiteral("--ui-test-host");
    const QString denied = QStringLiteral("--ui-test-kill-permission-denied");
    const LaunchOptions normal;
    const struct {
        QStringList arguments;
        LaunchOptions expected;
    } cases[] = {
        {{program}, normal},
        {{program, host}, {true, UITestScenario::normal, std::nullopt}},
        {{program, denied}, {false, UITestScenario::killPermissionDenied, std::nullopt}},
        {{program, denied, QStringLiteral("extra"), host}, {true, UITestScenario::killPermissionDenied, std::nullopt}},
        {{program, QStringLiteral("--ui-test-host=1")}, normal},
        {{program, QStringLiteral("--UI-TEST-HOST")}, normal},
        {{program, host + QLatin1Char(' ') + denied}, normal},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char('|')).toStdString());
        EXPECT_EQ(LaunchOptions::fromArguments(c.arguments), c.expected);
    }
}

TEST(LaunchOptions, StopTakesTheNextArgumentAsItIs) {
    const QString program = QStringLiteral("/usr/bin/quaystone");
    const QString stop = QStringLiteral("--stop");
    const struct {
        QStringList arguments;
        std::optional<QString> stopPort;
        bool uiTestHostEnabled;
    } cases[] = {
        {{program}, std::nullopt, false},
        {{program, stop, QStringLiteral("5000")}, QStringLiteral("5000"), false},
        // Checked later, where it is used: the option only carries the text.
        {{program, stop, QStringLiteral("+5000")}, QStringLiteral("+5000"), false},
        {{program, stop}, QString(), false},
        // The value is never read as an option of its own.
        {{program, stop, QStringLiteral("--ui-test-host")}, QStringLiteral("--ui-test-host"), false},
        {{program, QStringLiteral("--stop=5000")}, std::nullopt, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char('|')).toStdString());
        const LaunchOptions options = LaunchOptions::fromArguments(c.arguments);
        EXPECT_EQ(options.stopPort, c.stopPort);
        EXPECT_EQ(options.uiTestHostEnabled, c.uiTestHostEnabled);
    }
}
