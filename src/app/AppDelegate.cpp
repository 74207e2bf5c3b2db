#include "app/AppDelegate.h"

#include "app/AppConfig.h"
#include "app/DefaultServices.h"
#include "app/MenuBarController.h"
#include "app/PopoverWindow.h"
#include "app/PortsWindow.h"
#include "app/SystemTrayStatusItem.h"
#include "discovery/DockerContainerStopper.h"
#include "model/PortListing.h"
#include "model/PortStore.h"
#include "model/ProcessKilling.h"
#include "model/WorkingDirectoryResolving.h"
#include "termination/PkexecAdministratorStopper.h"
#include "termination/SystemdServiceStopper.h"
#include "uitest/UITestHostSceneRoot.h"

#include <QApplication>
#include <QWidget>

namespace quaystone {

AppDelegate::AppDelegate(LaunchOptions launchOptions, QObject *parent)
    : QObject(parent)
    , m_launchOptions(launchOptions) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    if (m_launchOptions.uiTestHostEnabled) {
        m_uiTestWindow = std::make_unique<UITestHostSceneRoot>(m_launchOptions.uiTestScenario);
        m_uiTestWindow->show();
        return;
    }
    // The app lives in the tray; hiding the popup must not end it.
    QApplication::setQuitOnLastWindowClosed(false);
    menuBarController().configure();
    switch (m_launchOptions.startMode) {
    case StartMode::interactive:
        menuBarController().showWindowUnlessIconShows();
        break;
    case StartMode::toggle:
        menuBarController().activate();
        break;
    case StartMode::background:
        break;
    }
}

void AppDelegate::activate() {
    if (!m_launchOptions.uiTestHostEnabled)
        menuBarController().activate();
}

void AppDelegate::toggle() {
    if (!m_launchOptions.uiTestHostEnabled)
        menuBarController().toggle();
}

PortStore &AppDelegate::store() {
    if (!m_store) {
        DefaultServices services = makeDefaultServices(m_launchOptions.listingSource);
        m_store =
            std::make_unique<PortStore>(std::move(services.listing), std::move(services.workingDirectoryResolver),
                                        std::move(services.processKiller), PortRange{3000, 9999}, PortStore::systemNow);
        m_store->setAdministratorStopper(PkexecAdministratorStopper::makeDefault());
        m_store->setContainerStopper(std::make_unique<DockerContainerStopper>());
        m_store->setServiceStopper(std::make_unique<SystemdServiceStopper>());
    }
    return *m_store;
}

MenuBarController &AppDelegate::menuBarController() {
    if (!m_menuBarController) {
        auto statusItem = std::make_unique<SystemTrayStatusItem>();
        auto popover = std::make_unique<PopoverWindow>(store(), [item = statusItem.get()] { return item->anchor(); });
        m_menuBarController = std::make_unique<MenuBarController>(AppConfig::shared(), store(), std::move(popover),
                                                                  std::move(statusItem));
        m_menuBarController->setWindowFactory([this]() -> std::unique_ptr<PopoverPresenting> {
            auto window = std::make_unique<PortsWindow>(store());
            window->install(*m_menuBarController, AppConfig::shared());
            return window;
        });
    }
    return *m_menuBarController;
}

} // namespace quaystone
