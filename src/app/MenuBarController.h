#pragma once

#include "app/PopoverKeyAction.h"
#include "app/TrayActivation.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace quaystone {

class AppConfig;
class MenuPresenting;
class PopoverPresenting;
class PortStore;
struct KeyDownEvent;

// The front end of normal mode: turns tray clicks, menu choices and the open popup's keys
// into calls on the store and the launch-at-login setting. The toolkit sits behind the two
// presenting interfaces, so every decision here runs without a tray.
class MenuBarController : public QObject {
    Q_OBJECT

public:
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;

    MenuBarController(AppConfig &appConfig, PortStore &store, std::unique_ptr<PopoverPresenting> popover,
                      std::unique_ptr<MenuPresenting> menu, Now now = Clock::now, QObject *parent = nullptr);
    ~MenuBarController() override;

    // Makes the ports' ordinary window, for when no tray shows the icon; called the first time
    // it is needed, so that an app with a tray never builds it.
    using WindowFactory = std::function<std::unique_ptr<PopoverPresenting>()>;
    void setWindowFactory(WindowFactory factory);

    // Shows the tray icon, builds the menu and starts listening to the popup's keys. Once.
    void configure();

    // What a launch of the running app asks for: the popup at the icon, as a click opens it,
    // or the window (raised when it is open) where no tray shows the icon. Waits until it is
    // known whether one does.
    void activate();
    // A keyboard shortcut's request: closes the popup or the window when it is shown, else as
    // activate().
    void toggle();
    // The start from the app menu: the window where no tray shows the icon, nothing otherwise.
    void showWindowUnlessIconShows();

    void handleStatusItemClick(TrayActivation activation, Qt::KeyboardModifiers modifiers);
    // A press on the icon while the popup was shown, which closed it; a context request still
    // owes the menu.
    void handleIconPressThatClosedPopover(TrayActivation activation, Qt::KeyboardModifiers modifiers);

    // Sees every key press of the open popup; false (pass it on) while the popup is closed.
    bool handleKeyEvent(const KeyDownEvent &event);
    bool handleKeyDown(const KeyDownEvent &event);
    void perform(PopoverKeyAction action);

    static std::optional<PopoverKeyAction> actionForKeyCode(int qtKey);
    static std::optional<PopoverKeyAction> actionForCharacter(QChar lowerCased, Qt::KeyboardModifiers modifiers);
    // The typed characters as if no modifier were held.
    static QString charactersIgnoringModifiers(int qtKey, const QString &text);
    // The desktop's double-click interval; a click closer than this to the one that opened the
    // popup is the second half of a double click.
    static std::chrono::milliseconds doubleClickInterval();

public Q_SLOTS:
    void showPorts();
    void refresh();
    void toggleLaunchAtLogin();
    void quit();
    void closePopover();

private:
    void configureContextMenu();
    void installKeyEventMonitor();
    static bool isContextRequest(TrayActivation activation, Qt::KeyboardModifiers modifiers);
    void openPopover();
    void showPortsNow();
    void presentWindow();
    PopoverPresenting &window();
    bool handleKeyIn(PopoverPresenting &shown, const KeyDownEvent &event);

    // Declared before the popup, which reads the icon's geometry, so that it outlives it.
    std::unique_ptr<MenuPresenting> m_menu;
    std::unique_ptr<PopoverPresenting> m_popover;
    WindowFactory m_windowFactory;
    std::unique_ptr<PopoverPresenting> m_window;
    AppConfig &m_appConfig;
    PortStore &m_store;
    Now m_now;
    std::optional<Clock::time_point> m_openedAt;
};

} // namespace quaystone
