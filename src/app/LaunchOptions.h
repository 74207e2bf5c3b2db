#pragma once

#include "model/Result.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace quaystone {

enum class UITestScenario { normal, killPermissionDenied };

// Where the listeners are read: the kernel's socket table and /proc, or lsof ("--lsof").
enum class ListingSource { kernel, lsof };

// What the process does instead of starting the tray app, if anything. These run without a display.
enum class TerminalCommand { none, help, version, listTable, listJson, stop };

// How a start of the desktop app shows itself: as a launch from the app menu (the ports when no
// tray shows the icon), as the autostart entry's start (nothing until asked), or as a keyboard
// shortcut's toggle. Where the app already runs, the first and last ask that instance instead.
enum class StartMode { interactive, background, toggle };

// The parsed command line. Options are whole, case-sensitive arguments in any order.
struct LaunchOptions {
    bool uiTestHostEnabled = false;
    UITestScenario uiTestScenario = UITestScenario::normal;
    TerminalCommand terminalCommand = TerminalCommand::none;
    // "--stop PORT" (terminalCommand stop): the argument after it, checked by the stop itself, which
    // stops that port's listeners as administrator from the terminal and opens no window.
    std::optional<QString> stopPort;
    ListingSource listingSource = ListingSource::kernel;
    StartMode startMode = StartMode::interactive;

    // The arguments without the program's own path, which comes first. Fails with a message for
    // an unknown option, a stray argument or options that do not go together. Qt's own options
    // (-platform xcb, -style fusion, -reverse...) are left to Qt, each with its value.
    static Result<LaunchOptions, QString> parse(const QStringList &arguments);

    static QString helpText();
    static QString versionText();

    friend bool operator==(const LaunchOptions &, const LaunchOptions &) = default;
};

} // namespace quaystone
