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
        {{program, host}, {true, UITestScenario::normal}},
        {{program, denied}, {false, UITestScenario::killPermissionDenied}},
        {{program, denied, QStringLiteral("extra"), host}, {true, UITestScenario::killPermissionDenied}},
        {{program, QStringLiteral("--ui-test-host=1")}, normal},
        {{program, QStringLiteral("--UI-TEST-HOST")}, normal},
        {{program, host + QLatin1Char(' ') + denied}, normal},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char('|')).toStdString());
        EXPECT_EQ(LaunchOptions::fromArguments(c.arguments), c.expected);
    }
}
