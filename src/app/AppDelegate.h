#pragma once

#include "app/LaunchOptions.h"

#include <QObject>

#include <memory>

class QWidget;

namespace quaystone {

class MenuBarController;
class PortStore;

// Starts the app in the mode its command line asks for: the tray front end over the real
// services, or the UI-test window over fakes. Lives as long as the process.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    explicit AppDelegate(LaunchOptions launchOptions, QObject *parent = nullptr);
    ~AppDelegate() override;

    // Called once the application object exists. Starts no refresh; as its start mode asks, shows
    // the ports where no tray shows the icon.
    void applicationDidFinishLaunching();
    // A later launch's requests, and the desktop's global shortcut (toggle).
    void activate();
    void toggle();

    // Built on first use, then kept.
    PortStore &store();
    MenuBarController &menuBarController();

private:
    LaunchOptions m_launchOptions;
    // Declared before the controller, whose popup observes it, so that it goes last.
    std::unique_ptr<PortStore> m_store;
    std::unique_ptr<MenuBarController> m_menuBarController;
    std::unique_ptr<QWidget> m_uiTestWindow;
};

} // namespace quaystone
