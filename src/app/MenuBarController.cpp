#include "app/MenuBarController.h"

#include "app/AppConfig.h"
#include "app/KeyDownEvent.h"
#include "app/MenuPresenting.h"
#include "app/PopoverPresenting.h"
#include "model/MainThreadTask.h"
#include "model/PortStore.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QStyleHints>

namespace quaystone {

MenuBarController::MenuBarController(AppConfig &appConfig, PortStore &store, std::unique_ptr<PopoverPresenting> popover,
                                     std::unique_ptr<MenuPresenting> menu, Now now, QObject *parent)
    : QObject(parent)
    , m_menu(std::move(menu))
    , m_popover(std::move(popover))
    , m_appConfig(appConfig)
    , m_store(store)
    , m_now(std::move(now)) {}

MenuBarController::~MenuBarController() = default;

void MenuBarController::setWindowFactory(WindowFactory factory) {
    m_windowFactory = std::move(factory);
}

PopoverPresenting &MenuBarController::window() {
    if (!m_window) {
        m_window = m_windowFactory();
        m_window->setKeyHandler([controller = QPointer<MenuBarController>(this)](const KeyDownEvent &event) {
            return controller && controller->m_window->isShown() &&
                   controller->handleKeyIn(*controller->m_window, event);
        });
    }
    return *m_window;
}

void MenuBarController::configure() {
    m_menu->install(*this);
    configureContextMenu();
    installKeyEventMonitor();
    m_popover->setIconPressHandler(
        [controller = QPointer<MenuBarController>(this)](TrayActivation activation, Qt::KeyboardModifiers modifiers) {
            if (controller)
                controller->handleIconPressThatClosedPopover(activation, modifiers);
        });
}

void MenuBarController::configureContextMenu() {
    m_menu->setLaunchAtLoginChecked(m_appConfig.launchAtLoginEnabled());
}

void MenuBarController::installKeyEventMonitor() {
    // The popup never outlives its controller, but the handler must not keep it alive either.
    m_popover->setKeyHandler([controller = QPointer<MenuBarController>(this)](const KeyDownEvent &event) {
        return controller && controller->handleKeyEvent(event);
    });
}

void MenuBarController::activate() {
    m_menu->whenTrayKnown([controller = QPointer<MenuBarController>(this)] {
        if (controller)
            controller->showPortsNow();
    });
}

void MenuBarController::toggle() {
    m_menu->whenTrayKnown([controller = QPointer<MenuBarController>(this)] {
        if (!controller)
            return;
        if (controller->m_popover->isShown())
            controller->m_popover->dismiss();
        else if (controller->m_window && controller->m_window->isShown())
            controller->m_window->dismiss();
        else
            controller->showPortsNow();
    });
}

void MenuBarController::showWindowUnlessIconShows() {
    m_menu->whenTrayKnown([controller = QPointer<MenuBarController>(this)] {
        if (controller && !controller->m_menu->hasIcon())
            controller->presentWindow();
    });
}

void MenuBarController::showPortsNow() {
    if (m_menu->hasIcon() || !m_windowFactory)
        showPorts();
    else
        presentWindow();
}

void MenuBarController::presentWindow() {
    if (!m_windowFactory)
        return;
    // Opening refreshes the list, as the popup's opening does; raising an open window does not.
    if (!window().isShown())
        refresh();
    window().present();
}

void MenuBarController::handleStatusItemClick(TrayActivation activation, Qt::KeyboardModifiers modifiers) {
    if (isContextRequest(activation, modifiers)) {
        m_popover->dismiss();
        // For a right click the tray host shows the menu by itself.
        if (activation != TrayActivation::context)
            m_menu->popUpAtCursor();
        return;
    }
    if (m_popover->isShown()) {
        // A double click would otherwise open the popup and close it at once.
        if (m_openedAt && m_now() - *m_openedAt < doubleClickInterval())
            return;
        m_popover->dismiss();
        return;
    }
    openPopover();
}

void MenuBarController::handleIconPressThatClosedPopover(TrayActivation activation, Qt::KeyboardModifiers modifiers) {
    if (isContextRequest(activation, modifiers))
        m_menu->popUpAtCursor();
}

bool MenuBarController::isContextRequest(TrayActivation activation, Qt::KeyboardModifiers modifiers) {
    return activation != TrayActivation::primary || modifiers.testFlag(Qt::ControlModifier);
}

void MenuBarController::showPorts() {
    if (!m_popover->isShown())
        openPopover();
}

void MenuBarController::openPopover() {
    // A frameless popup that the compositor drops anywhere would look like a stray.
    if (!m_popover->canBePlaced() && m_windowFactory) {
        presentWindow();
        return;
    }
    m_openedAt = m_now();
    // Queued ahead of the refresh that the list asks for when it appears on an idle store, so
    // that this one finds the store busy and the open runs lsof once. The task runs after the
    // popup is on screen all the same.
    refresh();
    m_popover->present();
}

void MenuBarController::refresh() {
    startMainThreadTask([store = &m_store] { return store->refresh(); });
}

void MenuBarController::toggleLaunchAtLogin() {
    m_appConfig.setLaunchAtLoginEnabled(!m_appConfig.launchAtLoginEnabled());
    // What the service reports, which after a refused change is the old state.
    m_menu->setLaunchAtLoginChecked(m_appConfig.launchAtLoginEnabled());
}

void MenuBarController::quit() {
    QCoreApplication::quit();
}

void MenuBarController::closePopover() {
    m_popover->dismiss();
}

bool MenuBarController::handleKeyEvent(const KeyDownEvent &event) {
    if (!m_popover->isShown())
        return false;
    return handleKeyDown(event);
}

bool MenuBarController::handleKeyDown(const KeyDownEvent &event) {
    return handleKeyIn(*m_popover, event);
}

bool MenuBarController::handleKeyIn(PopoverPresenting &shown, const KeyDownEvent &event) {
    std::optional<PopoverKeyAction> action = actionForKeyCode(event.key);
    if (!action) {
        const QString characters = charactersIgnoringModifiers(event.key, event.text);
        if (characters.isEmpty())
            return false;
        action = actionForCharacter(characters.front().toLower(), event.modifiers);
    }
    if (!action)
        return false;
    // Each kill moves the selection on, so a held kill key, or a second press soon after the
    // first, would stop one process after another: only a fresh press of a new act kills.
    if (*action == PopoverKeyAction::closePopover)
        shown.dismiss();
    else if (*action != PopoverKeyAction::killSelected ||
             (!event.isAutoRepeat && m_store.killActionGate().admit(m_now(), doubleClickInterval())))
        perform(*action);
    return true;
}

void MenuBarController::perform(PopoverKeyAction action) {
    switch (action) {
    case PopoverKeyAction::selectPrevious:
        m_store.selectPrevious();
        break;
    case PopoverKeyAction::selectNext:
        m_store.selectNext();
        break;
    case PopoverKeyAction::selectFirst:
    case PopoverKeyAction::selectLast:
        m_store.moveSelection(
            int(action == PopoverKeyAction::selectLast ? m_store.entries().size() : -m_store.entries().size()));
        break;
    case PopoverKeyAction::selectPageUp:
    case PopoverKeyAction::selectPageDown:
        m_store.moveSelection(m_popover->pageStep(action == PopoverKeyAction::selectPageDown ? 1 : -1));
        break;
    case PopoverKeyAction::killSelected:
        // The row selected when the key went down, whatever a refresh selects before the task runs.
        if (const std::optional<PortEntryID> id = m_store.selectedEntryID())
            startMainThreadTask([store = &m_store, id = *id] { return store->kill(id); });
        break;
    case PopoverKeyAction::refresh:
        refresh();
        break;
    case PopoverKeyAction::closePopover:
        m_popover->dismiss();
        break;
    }
}

std::optional<PopoverKeyAction> MenuBarController::actionForKeyCode(int qtKey) {
    switch (qtKey) {
    case Qt::Key_Up:
        return PopoverKeyAction::selectPrevious;
    case Qt::Key_Down:
        return PopoverKeyAction::selectNext;
    case Qt::Key_Home:
        return PopoverKeyAction::selectFirst;
    case Qt::Key_End:
        return PopoverKeyAction::selectLast;
    case Qt::Key_PageUp:
        return PopoverKeyAction::selectPageUp;
    case Qt::Key_PageDown:
        return PopoverKeyAction::selectPageDown;
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        return PopoverKeyAction::killSelected;
    case Qt::Key_Escape:
        return PopoverKeyAction::closePopover;
    default:
        return std::nullopt;
    }
}

std::optional<PopoverKeyAction> MenuBarController::actionForCharacter(QChar lowerCased,
                                                                      Qt::KeyboardModifiers modifiers) {
    const bool control = modifiers.testFlag(Qt::ControlModifier);
    if (lowerCased == u'r' && control)
        return PopoverKeyAction::refresh;
    if (lowerCased == u'w' && control)
        return PopoverKeyAction::closePopover;
    if (lowerCased == u'k')
        return PopoverKeyAction::killSelected;
    return std::nullopt;
}

std::chrono::milliseconds MenuBarController::doubleClickInterval() {
    constexpr std::chrono::milliseconds usual{400};
    // qGuiApp is a plain cast, not null under a QCoreApplication.
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return usual;
    return std::chrono::milliseconds(QGuiApplication::styleHints()->mouseDoubleClickInterval());
}

QString MenuBarController::charactersIgnoringModifiers(int qtKey, const QString &text) {
    // With Ctrl held, X11 and others deliver a control character as the text ("\x12" for
    // Ctrl+R), so letters are taken from the key, which names the letter of the layout.
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)
        return QString(QChar(u'a' + (qtKey - Qt::Key_A)));
    return text;
}

} // namespace quaystone
