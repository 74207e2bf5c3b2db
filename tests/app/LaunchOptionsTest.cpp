#include "app/LaunchOptions.h"

#include <gtest/gtest.h>

using namespace quaystone;

TEST(LaunchOptionsTest, OptionsAreWholeCaseSensitiveArgumentsAnywhere) {
    const LaunchOptions normal;
    const LaunchOptions host{true, UITestScenario::normal};
    const LaunchOptions deniedOnly{false, UITestScenario::killPermissionDenied};
    const LaunchOptions hostDenied{true, UITestScenario::killPermissionDenied};
    const QString program = QStringLiteral("/usr/bin/quaystone");
    const QString hostOption = QStringLiteral("--ui-test-host");
    const QString deniedOption = QStringLiteral("--ui-test-kill-permission-denied");

    struct Case {
        QStringList arguments;
        LaunchOptions expected;
    };
    const Case cases[] = {
        {{}, normal},
        {{program}, normal},
        {{program, hostOption}, host},
        {{program, deniedOption}, deniedOnly},
        {{program, hostOption, deniedOption}, hostDenied},
        {{program, deniedOption, QStringLiteral("extra"), hostOption}, hostDenied},
        {{program, hostOption, hostOption, deniedOption, deniedOption}, hostDenied},
        {{hostOption}, host}, // the program path is one of the arguments too
        {{program, QStringLiteral("--ui-test-host=1")}, normal},
        {{program, QStringLiteral("--UI-TEST-HOST")}, normal},
        {{program, QStringLiteral("--ui-test-hostx")}, normal},
        {{program, QStringLiteral("x--ui-test-host")}, normal},
        {{program, QStringLiteral(" --ui-test-host")}, normal},
        {{program, QStringLiteral("--ui-test-kill-permission")}, normal},
        {{program, QStringLiteral("--ui-test-host --ui-test-kill-permission-denied")}, normal},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char('|')).toStdString());
        EXPECT_EQ(LaunchOptions::fromArguments(c.arguments), c.expected);
    }
}
