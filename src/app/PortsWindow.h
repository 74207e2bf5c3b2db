#pragma once

#include "app/HeldKeys.h"
#include "app/PopoverPresenting.h"

#include <QWidget>

class QToolButton;

namespace quaystone {

class AppConfig;
class MenuBarController;
class PopoverRootView;
class PortStore;

// The ports in an ordinary window, for desktops where no tray shows the icon: the popup's views
// under a menu button that holds what the tray's menu would. It may be made taller or shorter
// (the views scroll); its close button and Escape hide it, and the app keeps running.
class PortsWindow : public QWidget, public PopoverPresenting {
    Q_OBJECT

public:
    explicit PortsWindow(PortStore &store);
    ~PortsWindow() override;

    // Fills the menu: Refresh, Launch at Login and Quit Quaystone, acting through the controller.
    void install(MenuBarController &controller, AppConfig &config);

    bool isShown() const override { return isVisible(); }
    void present() override;
    void dismiss() override { hide(); }
    void setKeyHandler(KeyHandler handler) override { m_keyHandler = std::move(handler); }
    void setIconPressHandler(IconPressHandler) override {}
    int pageStep(int direction) const override;

    bool eventFilter(QObject *watched, QEvent *event) override;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void fitToContent();

    QToolButton *m_menuButton;
    PopoverRootView *m_content;
    KeyHandler m_keyHandler;
    HeldKeys m_heldKeys;
    // The height the window last took from its content; once the user picks another, it stays.
    int m_fittedHeight = -1;
    bool m_userSized = false;
};

} // namespace quaystone
