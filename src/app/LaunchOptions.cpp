#include "app/LaunchOptions.h"

namespace quaystone {

LaunchOptions LaunchOptions::fromArguments(const QStringList &arguments) {
    LaunchOptions options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == QLatin1String("--stop")) {
            options.stopPort = i + 1 < arguments.size() ? arguments[++i] : QString();
        } else if (argument == QLatin1String("--ui-test-host")) {
            options.uiTestHostEnabled = true;
        } else if (argument == QLatin1String("--ui-test-kill-permission-denied")) {
            options.uiTestScenario = UITestScenario::killPermissionDenied;
        }
    }
    return options;
}

} // namespace quaystone
