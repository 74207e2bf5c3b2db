#include "app/PopoverWindow.h"

#include "app/KeyDownEvent.h"
#include "app/PopupAccessibility.h"
#include "app/TrayLogging.h"
#include "app/WindowSystem.h"
#include "views/PopoverRootView.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QStyleHints>
#include <QVBoxLayout>

namespace quaystone {

namespace {

// An X11 session's popup grabs the pointer and the keyboard. A Wayland session's X server lets
// no client grab, so there the popup is a window of its own that the window manager focuses,
// and a click elsewhere shows as that window losing the focus.
Qt::WindowFlags popupFlags(WindowSystem windowSystem) {
    if (windowSystem == WindowSystem::x11)
        return Qt::Popup | Qt::FramelessWindowHint;
    return Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;
}

} // namespace

PopoverWindow::PopoverWindow(PortStore &store, AnchorSource anchorSource)
    : QWidget(nullptr, popupFlags(currentWindowSystem()))
    , m_anchorSource(std::move(anchorSource))
    , m_windowSystem(currentWindowSystem()) {
    installPopupAccessibility();
    setObjectName(QStringLiteral("quaystone-popup"));
    // Never seen (the window is frameless); it lets window tools and tests find the popup.
    setWindowTitle(QStringLiteral("Quaystone Ports"));
    setAutoFillBackground(true);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1); // room for the border
    // The window takes the content's size, which changes with the number of rows.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    m_root = new PopoverRootView(store, this);
    layout->addWidget(m_root);
}

PopoverWindow::~PopoverWindow() = default;

bool PopoverWindow::isShown() const {
    return isVisible() || m_dismissalGuard.absorbsClickAt(DismissalGuard::Clock::now());
}

void PopoverWindow::present() {
    m_dismissalGuard.clear();
    m_presentedAt = std::chrono::steady_clock::now();
    adjustSize();
    place();
    if (m_windowSystem == WindowSystem::xwayland)
        x11::markAsPopup(*this);
    show();
    raise();
    activateWindow();
}

bool PopoverWindow::canBePlaced() const {
    switch (m_windowSystem) {
    case WindowSystem::x11:
        return true;
    case WindowSystem::xwayland: {
        // The pointer is known there only over the server's own windows: without the host's
        // point the popup would open wherever the pointer last left one.
        const PopupAnchor where = anchor();
        return where.pointer || !where.iconGeometry.isEmpty();
    }
    case WindowSystem::wayland:
        break;
    }
    return false;
}

void PopoverWindow::dismiss() {
    m_dismissalGuard.clear();
    m_hiding = true;
    hide();
    m_hiding = false;
}

int PopoverWindow::pageStep(int direction) const {
    return m_root->pageStep(direction);
}

void PopoverWindow::setKeyHandler(KeyHandler handler) {
    m_keyHandler = std::move(handler);
}

bool PopoverWindow::eventFilter(QObject *watched, QEvent *event) {
    // Installed on the application only while the popup is shown, so that keys reach the
    // commands whichever row or button has the focus.
    if ((event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) || !isInThisWindow(watched))
        return false;
    const std::optional<KeyDownEvent> key = m_heldKeys.keyDown(*static_cast<QKeyEvent *>(event));
    return key && m_keyHandler && m_keyHandler(*key);
}

bool PopoverWindow::isInThisWindow(QObject *object) const {
    // Widgets only: the platform window sees each key first and hands it on to a widget,
    // and one key must not be handled twice.
    return object->isWidgetType() && static_cast<QWidget *>(object)->window() == this;
}

bool PopoverWindow::event(QEvent *event) {
    // Hiding deactivates the window too; that is no reason to close it again.
    if (event->type() == QEvent::WindowDeactivate && isVisible() && !m_hiding) {
        qCDebug(lcPopup) << "closing: the popup lost focus";
        dismiss();
    }
    return QWidget::event(event);
}

void PopoverWindow::showEvent(QShowEvent *event) {
    // A key let go while the popup was closed was never seen going up.
    m_heldKeys.forget();
    qApp->installEventFilter(this);
    QWidget::showEvent(event);
    qCDebug(lcPopup) << "popup shown";
}

void PopoverWindow::hideEvent(QHideEvent *event) {
    qApp->removeEventFilter(this);
    QWidget::hideEvent(event);
    qCDebug(lcPopup) << "popup hidden";
}

void PopoverWindow::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    // A list that grows or shrinks keeps the popup attached to the icon, above it included.
    if (isVisible())
        place();
}

void PopoverWindow::setIconPressHandler(IconPressHandler handler) {
    m_iconPressHandler = std::move(handler);
}

void PopoverWindow::mousePressEvent(QMouseEvent *event) {
    if (rect().contains(event->position().toPoint())) {
        QWidget::mousePressEvent(event);
        return;
    }
    const QPoint global = event->globalPosition().toPoint();
    const PopupAnchor where = anchor();
    if (event->button() == Qt::LeftButton && isSecondClickOfOpeningDoubleClick(global, where)) {
        event->accept();
        return;
    }
    const QRect icon = where.iconGeometry;
    m_dismissalGuard.notePressDismissal(global, icon, DismissalGuard::Clock::now());
    QWidget::mousePressEvent(event); // closes the popup on a press outside it
    // An XEmbed tray icon never gets this press (the popup held the pointer grab), so a right
    // click or Ctrl+click on it would otherwise only close the popup and not open the menu.
    if (m_iconPressHandler && !icon.isEmpty() && icon.contains(global)) {
        const auto activation = event->button() == Qt::RightButton ? TrayActivation::context : TrayActivation::primary;
        m_iconPressHandler(activation, event->modifiers());
    }
}

void PopoverWindow::paintEvent(QPaintEvent *event) {
    QWidget::paintEvent(event);
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

bool PopoverWindow::isSecondClickOfOpeningDoubleClick(QPoint globalPos, const PopupAnchor &where) const {
    // The popup holds the pointer from the first press on, so the second press of a double
    // click on the icon comes here.
    const std::chrono::milliseconds interval(QGuiApplication::styleHints()->mouseDoubleClickInterval());
    if (!m_presentedAt || std::chrono::steady_clock::now() - *m_presentedAt >= interval)
        return false;
    if (!where.iconGeometry.isEmpty())
        return where.iconGeometry.contains(globalPos);
    return where.pointer && anchorArea(QRect(), *where.pointer).contains(globalPos);
}

PopupAnchor PopoverWindow::anchor() const {
    return m_anchorSource ? m_anchorSource() : PopupAnchor{};
}

void PopoverWindow::place() {
    const PopupAnchor where = anchor();
    const QPoint pointer = where.pointer.value_or(QCursor::pos());
    QScreen *screen = QGuiApplication::screenAt(where.iconGeometry.isEmpty() ? pointer : where.iconGeometry.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    move(popupPosition(where.iconGeometry, pointer, size(), screen->availableGeometry()));
}

} // namespace quaystone
