#include "app/SystemTrayStatusItem.h"

#include "app/MenuBarController.h"
#include "app/StatusNotifierHostWatcher.h"
#include "app/StatusNotifierItem.h"
#include "app/TrayLogging.h"
#include "app/WindowSystem.h"
#include "app/XEmbedTrayWatcher.h"

#include <QCursor>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QSystemTrayIcon>

#include <cstdio>
#include <utility>

namespace quaystone {

namespace {

// The installed symbolic icon goes to StatusNotifierItem hosts by name, so desktops can recolour it;
// the bundled one serves a build that is not installed, sharp at 16 and 22 pixels.
QIcon trayIcon() {
    // Built from pixmaps (an SVG icon would keep one added pixmap only), the SVG at its own 64 pixels.
    QIcon bundled;
    for (const int size : {16, 22})
        bundled.addFile(QStringLiteral(":/quaystone/quaystone-%1.png").arg(size), QSize(size, size));
    bundled.addFile(QStringLiteral(":/quaystone/quaystone.svg"));
    return QIcon::fromTheme(QStringLiteral("quaystone-symbolic"), bundled);
}

} // namespace

SystemTrayStatusItem::SystemTrayStatusItem(QObject *parent)
    : QObject(parent)
    , m_menu(std::make_unique<QMenu>())
    , m_popupMenu(std::make_unique<QMenu>()) {}

SystemTrayStatusItem::~SystemTrayStatusItem() = default;

void SystemTrayStatusItem::install(MenuBarController &controller) {
    m_controller = &controller;

    // Queued: the menu finishes closing before the popup opens and takes the pointer grab.
    QAction *showPorts = m_menu->addAction(tr("Show Ports"));
    connect(showPorts, &QAction::triggered, &controller, &MenuBarController::showPorts, Qt::QueuedConnection);

    QAction *refresh = m_menu->addAction(tr("Refresh"));
    connect(refresh, &QAction::triggered, &controller, &MenuBarController::refresh);

    m_launchAtLoginAction = m_menu->addAction(tr("Launch at Login"));
    m_launchAtLoginAction->setCheckable(true);
    connect(m_launchAtLoginAction, &QAction::triggered, &controller, &MenuBarController::toggleLaunchAtLogin);

    m_menu->addSeparator();

    QAction *quit = m_menu->addAction(tr("Quit Quaystone"));
    connect(quit, &QAction::triggered, &controller, &MenuBarController::quit);

    m_menuKeys = {{QKeySequence(Qt::CTRL | Qt::Key_R), refresh}, {QKeySequence(Qt::CTRL | Qt::Key_Q), quit}};
    for (const auto &[keys, action] : std::as_const(m_menuKeys))
        action->setShortcut(keys);

    m_popupMenu->addActions(m_menu->actions());
    for (QMenu *menu : {m_menu.get(), m_popupMenu.get()}) {
        menu->installEventFilter(this);
        connect(menu, &QMenu::aboutToShow, &controller, &MenuBarController::closePopover);
    }
    // The tray's menu opens under the pointer on the icon; remember that spot for "Show Ports".
    // (A StatusNotifierItem host announces it through the menu's AboutToShow, when it does.)
    connect(m_menu.get(), &QMenu::aboutToShow, this, &SystemTrayStatusItem::rememberPointer);

    m_statusNotifierHosts = new StatusNotifierHostWatcher(this);
    m_xembedTrays = new XEmbedTrayWatcher(this);
    connect(m_statusNotifierHosts, &StatusNotifierHostWatcher::settled, this, [this] { reconsiderIcon(std::nullopt); });
    connect(m_statusNotifierHosts, &StatusNotifierHostWatcher::hostAppeared, this,
            [this] { reconsiderIcon(Backend::statusNotifierItem); });
    connect(m_statusNotifierHosts, &StatusNotifierHostWatcher::hostVanished, this,
            [this] { reconsiderIcon(std::nullopt); });
    connect(m_xembedTrays, &XEmbedTrayWatcher::trayAppeared, this, [this] { reconsiderIcon(Backend::xembed); });
    connect(m_xembedTrays, &XEmbedTrayWatcher::trayVanished, this, [this] { reconsiderIcon(std::nullopt); });
    reconsiderIcon(std::nullopt);
}

void SystemTrayStatusItem::whenTrayKnown(std::function<void()> then) {
    if (m_statusNotifierHosts && m_statusNotifierHosts->isSettled())
        then();
    else
        m_whenTrayKnown.push_back(std::move(then));
}

void SystemTrayStatusItem::reconsiderIcon(std::optional<Backend> appeared) {
    // Qt asks the bus once, when the first icon is built: decide only when the bus has answered
    // us too, or an X11 tray seen first would lock a StatusNotifierItem host out for good.
    if (!m_statusNotifierHosts->isSettled())
        return;
    decideIcon(appeared);
    for (auto &then : std::exchange(m_whenTrayKnown, {}))
        then();
}

void SystemTrayStatusItem::decideIcon(std::optional<Backend> appeared) {
    const bool statusNotifierHost = m_statusNotifierHosts->isHostPresent();
    const bool xembedTray = m_xembedTrays->isTrayPresent();
    if (!m_backend) {
        if (statusNotifierHost) {
            chooseBackend(Backend::statusNotifierItem);
        } else if (xembedTray) {
            chooseBackend(Backend::xembed);
        } else {
            if (!m_saidWaiting)
                std::fputs("quaystone: no system tray available yet; waiting for one\n", stderr);
            m_saidWaiting = true;
            return;
        }
        buildIcon();
        return;
    }
    const bool hostPresent = *m_backend == Backend::statusNotifierItem ? statusNotifierHost : xembedTray;
    if (!hostPresent) {
        if (hasIcon())
            qCDebug(lcTray) << "tray host gone: icon dropped";
        m_trayIcon.reset();
        m_statusNotifierItem.reset();
        return;
    }
    // A host that came back knows nothing of the old icon.
    if (!hasIcon() || appeared == m_backend)
        buildIcon();
}

void SystemTrayStatusItem::chooseBackend(Backend backend) {
    m_backend = backend;
    // A StatusNotifierItem host draws the menu itself and keeps the keys: hints there would
    // promise keys that do nothing.
    if (backend == Backend::statusNotifierItem) {
        for (const auto &[keys, action] : std::as_const(m_menuKeys))
            action->setShortcut(QKeySequence());
    }
}

void SystemTrayStatusItem::buildIcon() {
    m_trayIcon.reset();
    m_statusNotifierItem.reset();
    if (*m_backend == Backend::statusNotifierItem) {
        m_statusNotifierItem = std::make_unique<StatusNotifierItem>(trayIcon(), QStringLiteral("Quaystone"), *m_menu);
        connect(m_statusNotifierItem.get(), &StatusNotifierItem::activated, this,
                [this](QPoint at) { onHostClick(TrayActivation::primary, at); });
        connect(m_statusNotifierItem.get(), &StatusNotifierItem::contextMenuRequested, this,
                [this](QPoint at) { onHostClick(TrayActivation::contextMenuRequest, at); });
        if (!m_statusNotifierItem->registerWithWatcher())
            m_statusNotifierItem.reset();
        else
            qCDebug(lcTray) << "icon shown through StatusNotifierItem";
        return;
    }
    m_trayIcon = std::make_unique<QSystemTrayIcon>(trayIcon());
    m_trayIcon->setToolTip(QStringLiteral("Quaystone"));
    m_trayIcon->setContextMenu(m_menu.get());
    connect(m_trayIcon.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        switch (reason) {
        case QSystemTrayIcon::Trigger:
            rememberPointer();
            // The activation carries no modifiers, so ask the window system.
            m_controller->handleStatusItemClick(TrayActivation::primary, QGuiApplication::queryKeyboardModifiers());
            break;
        case QSystemTrayIcon::Context:
            rememberPointer();
            // Qt pops the menu up by itself.
            m_controller->handleStatusItemClick(TrayActivation::context, Qt::NoModifier);
            break;
        default:
            break;
        }
    });
    m_trayIcon->show();
    qCDebug(lcTray) << "icon shown through XEmbed";
}

void SystemTrayStatusItem::onHostClick(TrayActivation activation, QPoint at) {
    // The host's point is where the icon is, the one place a Wayland session tells. A host that
    // knows none sends the origin, and the pointer stands in for it.
    if (!at.isNull())
        m_pointer = at;
    else
        rememberPointer();
    if (activation == TrayActivation::contextMenuRequest) {
        m_menuAt = m_pointer;
        m_controller->handleStatusItemClick(activation, Qt::NoModifier);
        return;
    }
    // The activation carries no modifiers, so ask the window system.
    m_controller->handleStatusItemClick(activation, QGuiApplication::queryKeyboardModifiers());
}

void SystemTrayStatusItem::rememberPointer() {
    // An X server of a Wayland session knows the pointer only over its own windows: there the
    // point a host last sent stays.
    if (currentWindowSystem() == WindowSystem::x11)
        m_pointer = QCursor::pos();
}

void SystemTrayStatusItem::setLaunchAtLoginChecked(bool checked) {
    if (m_launchAtLoginAction)
        m_launchAtLoginAction->setChecked(checked);
}

void SystemTrayStatusItem::popUpAtCursor() {
    // A Wayland client's menu without a parent window becomes a window of its own: the ports
    // window, which holds the same menu, stands in for it.
    if (currentWindowSystem() == WindowSystem::wayland) {
        m_controller->showPorts();
        return;
    }
    m_popupMenu->popup(std::exchange(m_menuAt, std::nullopt).value_or(QCursor::pos()));
}

PopupAnchor SystemTrayStatusItem::anchor() const {
    return {m_trayIcon ? m_trayIcon->geometry() : QRect(), m_pointer};
}

bool SystemTrayStatusItem::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() != QEvent::KeyPress)
        return false;
    const QKeySequence pressed(static_cast<QKeyEvent *>(event)->keyCombination());
    for (const auto &[keys, action] : std::as_const(m_menuKeys)) {
        if (pressed == keys) {
            // Closed first, as choosing the item with the pointer would close it.
            if (auto *menu = qobject_cast<QMenu *>(watched))
                menu->close();
            action->trigger();
            return true;
        }
    }
    return false;
}

} // namespace quaystone
