#pragma once

#include <QObject>

#include <memory>

namespace quaystone {

class LaunchAtLoginControlling;

// The launch-at-login setting as an observable value. It only ever holds what the
// controller reports, never the value that was asked for.
class AppConfig : public QObject {
    Q_OBJECT

public:
    explicit AppConfig(std::unique_ptr<LaunchAtLoginControlling> controller, QObject *parent = nullptr);
    ~AppConfig() override;

    // The process-wide instance of normal mode, over XDG autostart; built on first use.
    static AppConfig &shared();

    bool launchAtLoginEnabled() const { return m_launchAtLoginEnabled; }
    // Asks the controller for the change, drops any error, then publishes what it reports.
    void setLaunchAtLoginEnabled(bool enabled);

Q_SIGNALS:
    // Emitted on every assignment of launchAtLoginEnabled, changed or not.
    void changed();

private:
    bool m_launchAtLoginEnabled = false;
    std::unique_ptr<LaunchAtLoginControlling> m_controller;
};

} // namespace quaystone
