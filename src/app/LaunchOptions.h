#pragma once

#include <QStringList>

namespace quaystone {

enum class UITestScenario { normal, killPermissionDenied };

// The parsed command line: options are matched as whole, case-sensitive arguments anywhere
// in the list; everything else is ignored.
struct LaunchOptions {
    bool uiTestHostEnabled = false;
    UITestScenario uiTestScenario = UITestScenario::normal;

    static LaunchOptions fromArguments(const QStringList &arguments);

    friend bool operator==(const LaunchOptions &, const LaunchOptions &) = default;
};

} // namespace quaystone
