#pragma once

#include "app/MenuPresenting.h"
#include "app/PopupPlacement.h"
#include "app/TrayActivation.h"

#include <QKeySequence>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QRect>

#include <memory>
#include <optional>
#include <vector>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace quaystone {

class StatusNotifierHostWatcher;
class StatusNotifierItem;
class XEmbedTrayWatcher;

// The tray icon and its context menu. The icon exists only while a tray host is there to show
// it: it is built when one appears, dropped when it goes, and built anew when it comes back.
class SystemTrayStatusItem : public QObject, public MenuPresenting {
    Q_OBJECT

public:
    // How the icon is shown: our own StatusNotifierItem, or Qt's XEmbed icon (Qt picks its
    // protocol once per process, when its first icon is built).
    enum class Backend { statusNotifierItem, xembed };

    explicit SystemTrayStatusItem(QObject *parent = nullptr);
    ~SystemTrayStatusItem() override;

    void install(MenuBarController &controller) override;
    void setLaunchAtLoginChecked(bool checked) override;
    void popUpAtCursor() override;
    bool hasIcon() const override { return m_trayIcon || m_statusNotifierItem; }
    void whenTrayKnown(std::function<void()> then) override;

    // Where the popup belongs: the icon when the host tells where it is, else the pointer as
    // it was when the icon or the menu was last used.
    PopupAnchor anchor() const;
    // The tray's context menu, and the menu the app pops up by itself (for a Ctrl+click, or a
    // StatusNotifierItem host that asks for it); both hold the same actions.
    QMenu &menu() const { return *m_menu; }
    QMenu &popupMenu() const { return *m_popupMenu; }

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void reconsiderIcon(std::optional<Backend> appeared);
    void decideIcon(std::optional<Backend> appeared);
    void buildIcon();
    void chooseBackend(Backend backend);
    void rememberPointer();
    void onHostClick(TrayActivation activation, QPoint at);

    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QMenu> m_popupMenu;
    // Declared after the menus, which it refers to, so that it goes first.
    std::unique_ptr<QSystemTrayIcon> m_trayIcon;
    std::unique_ptr<StatusNotifierItem> m_statusNotifierItem;
    QAction *m_launchAtLoginAction = nullptr;
    // The menu's key equivalents, which a menu of Qt's outside a menu bar never matches itself.
    QList<std::pair<QKeySequence, QAction *>> m_menuKeys;
    MenuBarController *m_controller = nullptr;
    StatusNotifierHostWatcher *m_statusNotifierHosts = nullptr;
    XEmbedTrayWatcher *m_xembedTrays = nullptr;
    std::optional<Backend> m_backend;
    std::optional<QPoint> m_pointer;
    // Where a host's ContextMenu call asked for the app's menu.
    std::optional<QPoint> m_menuAt;
    bool m_saidWaiting = false;
    std::vector<std::function<void()>> m_whenTrayKnown;
};

} // namespace quaystone
