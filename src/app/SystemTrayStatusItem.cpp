#include "app/SystemTrayStatusItem.h"

#include "app/MenuBarController.h"

#include <QCursor>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

#include <cstdio>

namespace quaystone {

namespace {

constexpr int trayPollIntervalMs = 2000;

// The installed symbolic icon goes to StatusNotifierItem hosts by name, so desktops can recolour it;
// the bundled one serves a build that is not installed.
QIcon trayIcon() {
    return QIcon::fromTheme(QStringLiteral("quaystone-symbolic"), QIcon(QStringLiteral(":/quaystone/quaystone.svg")));
}

} // namespace

SystemTrayStatusItem::SystemTrayStatusItem(QObject *parent)
    : QObject(parent)
    , m_menu(std::make_unique<QMenu>())
    , m_trayIcon(std::make_unique<QSystemTrayIcon>(trayIcon())) {
    m_trayIcon->setToolTip(QStringLiteral("Quaystone"));
}

SystemTrayStatusItem::~SystemTrayStatusItem() = default;

void SystemTrayStatusItem::install(MenuBarController &controller) {
    // Queued: the menu finishes closing before the popup opens and takes the pointer grab.
    QAction *showPorts = m_menu->addAction(tr("Show Ports"));
    connect(showPorts, &QAction::triggered, &controller, &MenuBarController::showPorts, Qt::QueuedConnection);

    QAction *refresh = m_menu->addAction(tr("Refresh"));
    refresh->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    connect(refresh, &QAction::triggered, &controller, &MenuBarController::refresh);

    m_launchAtLoginAction = m_menu->addAction(tr("Launch at Login"));
    m_launchAtLoginAction->setCheckable(true);
    connect(m_launchAtLoginAction, &QAction::triggered, &controller, &MenuBarController::toggleLaunchAtLogin);

    m_menu->addSeparator();

    QAction *quit = m_menu->addAction(tr("Quit Quaystone"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, &controller, &MenuBarController::quit);

    connect(m_menu.get(), &QMenu::aboutToShow, &controller, &MenuBarController::closePopover);
    m_trayIcon->setContextMenu(m_menu.get());

    connect(m_trayIcon.get(), &QSystemTrayIcon::activated, &controller,
            [&controller](QSystemTrayIcon::ActivationReason reason) {
                switch (reason) {
                case QSystemTrayIcon::Trigger:
                    // The activation carries no modifiers, so ask the window system.
                    controller.handleStatusItemClick(TrayActivation::primary,
                                                     QGuiApplication::queryKeyboardModifiers());
                    break;
                case QSystemTrayIcon::Context:
                    controller.handleStatusItemClick(TrayActivation::context, Qt::NoModifier);
                    break;
                default:
                    break;
                }
            });

    showWhenTrayAvailable();
}

void SystemTrayStatusItem::showWhenTrayAvailable() {
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_trayIcon->show();
        return;
    }
    // Started at login, the app can come up before the panel. Qt announces no tray host that
    // appears later, so look again now and then; never give up, there is nothing else to show.
    std::fputs("quaystone: no system tray available yet; waiting for one\n", stderr);
    m_trayPoll.setInterval(trayPollIntervalMs);
    connect(&m_trayPoll, &QTimer::timeout, this, [this] {
        if (!QSystemTrayIcon::isSystemTrayAvailable())
            return;
        m_trayPoll.stop();
        m_trayIcon->show();
    });
    m_trayPoll.start();
}

void SystemTrayStatusItem::setLaunchAtLoginChecked(bool checked) {
    if (m_launchAtLoginAction)
        m_launchAtLoginAction->setChecked(checked);
}

void SystemTrayStatusItem::popUpAtCursor() {
    m_menu->popup(QCursor::pos());
}

QRect SystemTrayStatusItem::iconGeometry() const {
    return m_trayIcon->geometry();
}

} // namespace quaystone
