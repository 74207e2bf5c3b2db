#include "app/AppConfig.h"

#include "app/LaunchAtLoginControlling.h"
#include "app/XdgAutostartLaunchAtLoginController.h"

namespace quaystone {

AppConfig::AppConfig(std::unique_ptr<LaunchAtLoginControlling> controller, QObject *parent)
    : QObject(parent)
    , m_launchAtLoginEnabled(controller->isEnabled())
    , m_controller(std::move(controller)) {}

AppConfig::~AppConfig() = default;

AppConfig &AppConfig::shared() {
    static AppConfig instance(std::make_unique<XdgAutostartLaunchAtLoginController>());
    return instance;
}

void AppConfig::setLaunchAtLoginEnabled(bool enabled) {
    // The error says nothing the read-back doesn't: the published value is what the
    // controller reports after the attempt, whatever was asked for.
    try {
        (void)m_controller->setEnabled(enabled);
    } catch (...) {
    }
    m_launchAtLoginEnabled = m_controller->isEnabled();
    Q_EMIT changed();
}

} // namespace quaystone
