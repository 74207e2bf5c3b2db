#include "app/AppDelegate.h"

#include "app/AppConfig.h"
#include "app/MenuBarController.h"
#include "app/PopoverWindow.h"
#include "app/SystemTrayStatusItem.h"
#include "discovery/ContainerPortListing.h"
#include "discovery/DefaultPortListingService.h"
#include "discovery/DockerContainerListing.h"
#include "discovery/DockerContainerStopper.h"
#include "discovery/ProcessCommandRunner.h"
#include "discovery/ProcessWorkingDirectoryResolver.h"
#include "model/PortStore.h"
#include "termination/SignalProcessKiller.h"
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
}

PortStore &AppDelegate::store() {
    if (!m_store) {
        // Ports that containers publish are named by their container when an engine answers.
        auto listing = std::make_unique<ContainerPortListing>(
            std::make_unique<DefaultPortListingService>(std::make_unique<ProcessCommandRunner>()),
            std::make_unique<DockerContainerListing>());
        m_store = std::make_unique<PortStore>(std::move(listing), std::make_unique<ProcessWorkingDirectoryResolver>(),
                                              SignalProcessKiller::makeDefault(), PortRange{3000, 9999},
                                              PortStore::systemNow);
        m_store->setContainerStopper(std::make_unique<DockerContainerStopper>());
    }
    return *m_store;
}

MenuBarController &AppDelegate::menuBarController() {
    if (!m_menuBarController) {
        auto statusItem = std::make_unique<SystemTrayStatusItem>();
        auto popover =
            std::make_unique<PopoverWindow>(store(), [item = statusItem.get()] { return item->iconGeometry(); });
        m_menuBarController = std::make_unique<MenuBarController>(AppConfig::shared(), store(), std::move(popover),
                                                                  std::move(statusItem));
    }
    return *m_menuBarController;
}

} // namespace quaystone
