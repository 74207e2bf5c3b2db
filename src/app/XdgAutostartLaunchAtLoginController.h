#pragma once

#include "app/LaunchAtLoginControlling.h"

#include <QString>

namespace quaystone {

// Launch at login through an XDG autostart entry, quaystone.desktop in
// $XDG_CONFIG_HOME/autostart. The folder is looked up afresh on every call.
class XdgAutostartLaunchAtLoginController final : public LaunchAtLoginControlling {
public:
    // Starts the running binary at login.
    XdgAutostartLaunchAtLoginController();
    // Starts executablePath at login; it must be absolute.
    explicit XdgAutostartLaunchAtLoginController(QString executablePath);

    // The entry exists and the session would start it: it has a [Desktop Entry] group that is
    // neither Hidden nor turned off with X-GNOME-Autostart-enabled.
    bool isEnabled() const override;
    std::optional<LaunchAtLoginError> setEnabled(bool enabled) override;

private:
    QString m_executablePath;
};

} // namespace quaystone
