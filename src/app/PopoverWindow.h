#pragma once

#include "app/DismissalGuard.h"
#include "app/HeldKeys.h"
#include "app/PopoverPresenting.h"
#include "app/PopupPlacement.h"
#include "app/WindowSystem.h"

#include <QHash>
#include <QSet>
#include <QWidget>

#include <chrono>
#include <functional>
#include <optional>

namespace quaystone {

class PopoverRootView;
class PortStore;

// The popup: a frameless window hosting the port list, placed at the tray icon. It closes on
// a click outside it, on losing focus, and when the controller says so. A Wayland client cannot
// place a window at all: there it is never shown, and the ports open in their window instead.
class PopoverWindow : public QWidget, public PopoverPresenting {
    Q_OBJECT

public:
    // Where the tray icon is, or was last used.
    using AnchorSource = std::function<PopupAnchor()>;

    explicit PopoverWindow(PortStore &store, AnchorSource anchorSource = {});
    ~PopoverWindow() override;

    bool isShown() const override;
    void present() override;
    void dismiss() override;
    void setKeyHandler(KeyHandler handler) override;
    void setIconPressHandler(IconPressHandler handler) override;
    int pageStep(int direction) const override;
    bool canBePlaced() const override;

    bool eventFilter(QObject *watched, QEvent *event) override;

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void place();
    PopupAnchor anchor() const;
    bool isInThisWindow(QObject *object) const;
    bool isSecondClickOfOpeningDoubleClick(QPoint globalPos, const PopupAnchor &anchor) const;

    AnchorSource m_anchorSource;
    WindowSystem m_windowSystem;
    PopoverRootView *m_root;
    std::optional<std::chrono::steady_clock::time_point> m_presentedAt;
    bool m_hiding = false;
    KeyHandler m_keyHandler;
    // Keys seen going down and not yet up, and when each key last went up.
    HeldKeys m_heldKeys;
    IconPressHandler m_iconPressHandler;
    DismissalGuard m_dismissalGuard;
};

} // namespace quaystone
