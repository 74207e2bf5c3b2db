#include "app/LaunchOptions.h"

namespace quaystone {

LaunchOptions LaunchOptions::fromArguments(const QStringList &arguments) {
    LaunchOptions options;
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("--ui-test-host"))
            options.uiTestHostEnabled = true;
        else if (argument == QLatin1String("--ui-test-kill-permission-denied"))
            options.uiTestScenario = UITestScenario::killPermissionDenied;
    }
    return options;
}

} // namespace quaystone
