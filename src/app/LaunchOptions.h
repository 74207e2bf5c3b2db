#pragma once

#include <QStringList>

#include <optional>

namespace quaystone {

enum class UITestScenario { normal, killPermissionDenied };

// The parsed command line: options are matched as whole, case-sensitive arguments anywhere
// in the list; everything else is ignored.
struct LaunchOptions {
    bool uiTestHostEnabled = false;
    UITestScenario uiTestScenario = UITestScenario::normal;
    // "--stop PORT": the argument after it, unchecked (empty when it came last). The app then
    // stops that port's listeners as administrator from the terminal and opens no window.
    std::optional<QString> stopPort;

    static LaunchOptions fromArguments(const QStringList &arguments);

    friend bool operator==(const LaunchOptions &, const LaunchOptions &) = default;
};

} // namespace quaystone
