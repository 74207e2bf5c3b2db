#include "app/PopoverWindow.h"

#include "app/KeyDownEvent.h"
#include "app/PopupAccessibility.h"
#include "app/PopupPlacement.h"
#include "views/PopoverRootView.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

namespace quaystone {

PopoverWindow::PopoverWindow(PortStore &store, AnchorGeometry anchorGeometry)
    : QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint)
    , m_anchorGeometry(std::move(anchorGeometry)) {
    installPopupAccessibility();
    setObjectName(QStringLiteral("quaystone-popup"));
    // Never seen (the window is frameless); it lets window tools and tests find the popup.
    setWindowTitle(QStringLiteral("Quaystone Ports"));
    setAutoFillBackground(true);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1); // room for the border
    // The window takes the content's size, which changes with the number of rows.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(new PopoverRootView(store, this));
}

PopoverWindow::~PopoverWindow() = default;

bool PopoverWindow::isShown() const {
    return isVisible() || m_dismissalGuard.absorbsClickAt(DismissalGuard::Clock::now());
}

void PopoverWindow::present() {
    m_dismissalGuard.clear();
    adjustSize();
    place();
    show();
    raise();
    activateWindow();
}

void PopoverWindow::dismiss() {
    m_dismissalGuard.clear();
    hide();
}

void PopoverWindow::setKeyHandler(KeyHandler handler) {
    m_keyHandler = std::move(handler);
}

bool PopoverWindow::eventFilter(QObject *watched, QEvent *event) {
    // Installed on the application only while the popup is shown, so that keys reach the
    // commands whichever row or button has the focus.
    if (event->type() != QEvent::KeyPress || !m_keyHandler || !isInThisWindow(watched))
        return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    return m_keyHandler(KeyDownEvent{key->key(), key->text(), key->modifiers()});
}

bool PopoverWindow::isInThisWindow(QObject *object) const {
    // Widgets only: the platform window sees each key first and hands it on to a widget,
    // and one key must not be handled twice.
    return object->isWidgetType() && static_cast<QWidget *>(object)->window() == this;
}

bool PopoverWindow::event(QEvent *event) {
    if (event->type() == QEvent::WindowDeactivate && isVisible())
        dismiss();
    return QWidget::event(event);
}

void PopoverWindow::showEvent(QShowEvent *event) {
    qApp->installEventFilter(this);
    QWidget::showEvent(event);
}

void PopoverWindow::hideEvent(QHideEvent *event) {
    qApp->removeEventFilter(this);
    QWidget::hideEvent(event);
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
    const QRect anchor = anchorGeometry();
    m_dismissalGuard.notePressDismissal(global, anchor, DismissalGuard::Clock::now());
    QWidget::mousePressEvent(event); // closes the popup on a press outside it
    // An XEmbed tray icon never gets this press (the popup held the pointer grab), so a right
    // click or Ctrl+click on it would otherwise only close the popup and not open the menu.
    if (m_iconPressHandler && !anchor.isEmpty() && anchor.contains(global)) {
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

QRect PopoverWindow::anchorGeometry() const {
    return m_anchorGeometry ? m_anchorGeometry() : QRect();
}

void PopoverWindow::place() {
    // Wayland gives clients no global positions: the compositor places the window.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return;
    const QRect anchor = anchorGeometry();
    const QPoint cursor = QCursor::pos();
    QScreen *screen = QGuiApplication::screenAt(anchor.isEmpty() ? cursor : anchor.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    move(popupPosition(anchor, cursor, size(), screen->availableGeometry()));
}

} // namespace quaystone
