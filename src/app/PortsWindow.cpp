#include "app/PortsWindow.h"

#include "app/AppConfig.h"
#include "app/KeyDownEvent.h"
#include "app/MenuBarController.h"
#include "app/TrayLogging.h"
#include "app/WindowSystem.h"
#include "views/PopoverRootView.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace quaystone {

PortsWindow::PortsWindow(PortStore &store)
    : QWidget(nullptr, Qt::Window)
    , m_menuButton(new QToolButton(this))
    , m_content(new PopoverRootView(store)) {
    setObjectName(QStringLiteral("quaystone-window"));
    setWindowTitle(QStringLiteral("Quaystone Ports"));
    x11::setDesktopEntry(*this);

    m_menuButton->setObjectName(QStringLiteral("window-menu"));
    m_menuButton->setText(tr("&Menu"));
    m_menuButton->setIcon(QIcon::fromTheme(QStringLiteral("open-menu-symbolic")));
    m_menuButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_menuButton->setAccessibleName(tr("Menu"));
    m_menuButton->setPopupMode(QToolButton::InstantPopup);
    m_menuButton->setFocusPolicy(Qt::StrongFocus);
    m_menuButton->setMenu(new QMenu(m_menuButton));
    // F10 opens an application's menu on most desktops.
    connect(new QShortcut(Qt::Key_F10, this), &QShortcut::activated, m_menuButton, &QToolButton::showMenu);

    // The views keep the height of their content; the window scrolls them when it is shorter.
    auto *scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setBackgroundRole(QPalette::Base);
    scroll->viewport()->setAutoFillBackground(true);
    scroll->setWidget(m_content);
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setMinimumWidth(m_content->width() + style()->pixelMetric(QStyle::PM_ScrollBarExtent));

    auto *bar = new QHBoxLayout;
    bar->setContentsMargins(4, 4, 4, 4);
    bar->addStretch();
    bar->addWidget(m_menuButton);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(bar);
    layout->addWidget(scroll, 1);
    setFixedWidth(layout->sizeHint().width());
    setMinimumHeight(m_menuButton->sizeHint().height() * 3);
    m_content->installEventFilter(this);
}

PortsWindow::~PortsWindow() = default;

void PortsWindow::install(MenuBarController &controller, AppConfig &config) {
    QMenu *menu = m_menuButton->menu();
    // Window shortcuts, so the keys work while the window is active and the menu shows them.
    QAction *refresh = menu->addAction(tr("Refresh"), QKeySequence(Qt::CTRL | Qt::Key_R));
    connect(refresh, &QAction::triggered, &controller, &MenuBarController::refresh);
    QAction *launchAtLogin = menu->addAction(tr("Launch at Login"));
    launchAtLogin->setCheckable(true);
    launchAtLogin->setChecked(config.launchAtLoginEnabled());
    connect(launchAtLogin, &QAction::triggered, &controller, &MenuBarController::toggleLaunchAtLogin);
    // The tray's menu changes it too; the window shows what the setting holds.
    connect(&config, &AppConfig::changed, launchAtLogin,
            [launchAtLogin, &config] { launchAtLogin->setChecked(config.launchAtLoginEnabled()); });
    menu->addSeparator();
    QAction *quit = menu->addAction(tr("Quit Quaystone"), QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, &controller, &MenuBarController::quit);
    addActions({refresh, quit});
}

void PortsWindow::present() {
    fitToContent();
    show();
    raise();
    // As for the popup: a Wayland compositor focuses a window on request only with the token
    // the launcher handed over.
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland")) ||
        qEnvironmentVariableIsSet("XDG_ACTIVATION_TOKEN"))
        activateWindow();
}

void PortsWindow::fitToContent() {
    if (m_userSized)
        return;
    // As tall as the views (which grow with the rows) within two thirds of the screen.
    const QScreen *screen = this->screen();
    const int available = screen ? screen->availableGeometry().height() * 2 / 3 : 480;
    m_fittedHeight = std::clamp(m_content->height() + layout()->itemAt(0)->sizeHint().height(), minimumHeight(),
                                std::max(available, minimumHeight()));
    resize(width(), m_fittedHeight);
}

void PortsWindow::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    if (isVisible() && height() != m_fittedHeight)
        m_userSized = true;
}

int PortsWindow::pageStep(int direction) const {
    return m_content->pageStep(direction);
}

bool PortsWindow::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_content) {
        if (event->type() == QEvent::Resize)
            fitToContent();
        return false;
    }
    // Installed on the application only while the window is shown, so that the popup's keys act
    // whichever widget has the focus; widgets only, so that no key is handled twice.
    if ((event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) || !m_keyHandler ||
        !watched->isWidgetType() || static_cast<QWidget *>(watched)->window() != this)
        return false;
    const std::optional<KeyDownEvent> key = m_heldKeys.keyDown(*static_cast<QKeyEvent *>(event));
    return key && m_keyHandler(*key);
}

void PortsWindow::showEvent(QShowEvent *event) {
    m_heldKeys.forget();
    qApp->installEventFilter(this);
    QWidget::showEvent(event);
    qCDebug(lcPopup) << "ports window shown";
}

void PortsWindow::hideEvent(QHideEvent *event) {
    qApp->removeEventFilter(this);
    QWidget::hideEvent(event);
    qCDebug(lcPopup) << "ports window hidden";
}

} // namespace quaystone
