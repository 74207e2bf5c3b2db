#pragma once

#include "app/DismissalGuard.h"
#include "app/PopoverPresenting.h"

#include <QWidget>

#include <functional>

namespace quaystone {

class PortStore;

// The popup: a frameless window hosting the port list, placed at the tray icon. It closes on
// a click outside it, on losing focus, and when the controller says so.
class PopoverWindow : public QWidget, public PopoverPresenting {
    Q_OBJECT

public:
    // The tray icon's global geometry; empty when the tray host does not tell.
    using AnchorGeometry = std::function<QRect()>;

    explicit PopoverWindow(PortStore &store, AnchorGeometry anchorGeometry = {});
    ~PopoverWindow() override;

    bool isShown() const override;
    void present() override;
    void dismiss() override;
    void setKeyHandler(KeyHandler handler) override;
    void setIconPressHandler(IconPressHandler handler) override;

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
    QRect anchorGeometry() const;
    bool isInThisWindow(QObject *object) const;

    AnchorGeometry m_anchorGeometry;
    KeyHandler m_keyHandler;
    IconPressHandler m_iconPressHandler;
    DismissalGuard m_dismissalGuard;
};

} // namespace quaystone
