#include "app/LaunchOptions.h"

#include <gtest/gtest.h>

using namespace quaystone;

namespace {

const QString program = QStringLiteral("/usr/bin/quaystone");

LaunchOptions options(bool host, UITestScenario scenario, TerminalCommand command = TerminalCommand::none,
                      ListingSource source = ListingSource::kernel, StartMode mode = StartMode::interactive) {
    return {host, scenario, command, std::nullopt, source, mode};
}

} // namespace

TEST(LaunchOptions, OptionsAreWholeCaseSensitiveArgumentsInAnyOrder) {
    using enum UITestScenario;
    using enum TerminalCommand;
    const struct {
        QStringList arguments;
        LaunchOptions expected;
    } cases[] = {
        {{}, options(false, normal)},
        {{program}, options(false, normal)},
        {{program, "--ui-test-host"}, options(true, normal)},
        {{program, "--ui-test-kill-permission-denied"}, options(false, killPermissionDenied)},
        {{program, "--ui-test-kill-permission-denied", "--ui-test-host", "--ui-test-host"},
         options(true, killPermissionDenied)},
        {{program, "--list"}, options(false, normal, listTable)},
        {{program, "--json", "--list"}, options(false, normal, listJson)},
        {{program, "--list", "--lsof"}, options(false, normal, listTable, ListingSource::lsof)},
        {{program, "--lsof"}, options(false, normal, none, ListingSource::lsof)},
        {{program, "--list", "--json", "--list"}, options(false, normal, listJson)},
        {{program, "--version"}, options(false, normal, version)},
        {{program, "-h"}, options(false, normal, help)},
        // Help is answered even beside options that would otherwise be refused.
        {{program, "--json", "--help"}, options(false, normal, help)},
        {{program, "--list", "--ui-test-host", "--help"}, options(true, normal, help)},
        // Qt's own options are left to Qt, each with its value.
        {{program, "-platform", "offscreen", "--list"}, options(false, normal, listTable)},
        {{program, "-reverse", "--ui-test-host"}, options(true, normal)},
        {{program, "-style", "fusion", "-display", ":1"}, options(false, normal)},
        {{program, "--platform", "xcb", "-style=fusion", "-nograb", "--list"}, options(false, normal, listTable)},
        // A value that looks like an option is still the value.
        {{program, "-qwindowtitle", "--list"}, options(false, normal)},
        // The program path is never read as an option.
        {{"--list"}, options(false, normal)},
        {{program, "--toggle", "--toggle"}, options(false, normal, none, ListingSource::kernel, StartMode::toggle)},
        {{program, "-platform", "xcb", "--background"},
         options(false, normal, none, ListingSource::kernel, StartMode::background)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char('|')).toStdString());
        const auto parsed = LaunchOptions::parse(c.arguments);
        ASSERT_TRUE(parsed) << parsed.error().toStdString();
        EXPECT_EQ(parsed.value(), c.expected);
    }
}

TEST(LaunchOptions, WrongCommandLinesAreRefusedWithAMessageNamingTheFault) {
    const struct {
        QStringList arguments;
        const char *message;
    } cases[] = {
        {{program, "--ui-test-host=1"}, "unknown option '--ui-test-host=1'"},
        {{program, "--UI-TEST-HOST"}, "unknown option '--UI-TEST-HOST'"},
        {{program, "--ui-test-host --ui-test-kill-permission-denied"}, "unknown option"},
        {{program, "--list", "--jsn"}, "unknown option '--jsn'"},
        {{program, "--"}, "unknown option '--'"},
        {{program, "list"}, "unexpected argument 'list'"},
        {{program, "--list", "-"}, "unexpected argument '-'"},
        {{program, "--json"}, "--json goes with --list"},
        {{program, "-v"}, "unknown option '-v'"},
        {{program, "-platform=xcb"}, "unknown option '-platform=xcb'"},
        {{program, "--list", "-platform"}, "option '-platform' needs a value"},
        {{program, "--ui-test-host", "--list"}, "cannot be combined"},
        {{program, "--stop"}, "--stop needs a port"},
        {{program, "--stop", "5000", "--list"}, "--stop goes alone"},
        {{program, "--toggle", "--stop", "5000"}, "--stop goes alone"},
        {{program, "--toggle", "--background"}, "cannot be combined"},
        {{program, "--background", "--list"}, "go with the tray app only"},
        {{program, "--ui-test-host", "--toggle"}, "go with the tray app only"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char('|')).toStdString());
        const auto parsed = LaunchOptions::parse(c.arguments);
        ASSERT_FALSE(parsed);
        EXPECT_TRUE(parsed.error().contains(QString::fromUtf8(c.message))) << parsed.error().toStdString();
    }
}

TEST(LaunchOptions, HelpNamesEveryOption) {
    const QString help = LaunchOptions::helpText();
    for (const char *option : {"--list", "--json", "--lsof", "--stop PORT", "--help", "-h,", "--version",
                               "--background", "--toggle", "--ui-test-host", "--ui-test-kill-permission-denied"})
        EXPECT_TRUE(help.contains(QString::fromUtf8(option))) << option;
}

TEST(LaunchOptions, StopTakesTheNextArgumentAsItIs) {
    const struct {
        QStringList arguments;
        std::optional<QString> stopPort;
    } cases[] = {
        {{program, "--stop", "5000"}, QStringLiteral("5000")},
        // Checked later, where it is used: the option only carries the text.
        {{program, "--stop", "+5000"}, QStringLiteral("+5000")},
        // The value is never read as an option of its own.
        {{program, "--stop", "--ui-test-host"}, QStringLiteral("--ui-test-host")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char('|')).toStdString());
        const auto parsed = LaunchOptions::parse(c.arguments);
        ASSERT_TRUE(parsed) << parsed.error().toStdString();
        EXPECT_EQ(parsed.value().stopPort, c.stopPort);
        EXPECT_EQ(parsed.value().terminalCommand, TerminalCommand::stop);
    }
}
