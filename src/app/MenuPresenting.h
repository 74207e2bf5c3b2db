#pragma once

#include <functional>

namespace quaystone {

class MenuBarController;

// The tray icon and its context menu as the menu-bar controller sees them.
class MenuPresenting {
public:
    virtual ~MenuPresenting() = default;

    // Shows the icon and builds the menu; clicks and menu items then go to the controller.
    virtual void install(MenuBarController &controller) = 0;
    virtual void setLaunchAtLoginChecked(bool checked) = 0;
    // Pops the context menu up at the pointer, for a Ctrl+click: no tray host treats that as
    // a context request by itself.
    virtual void popUpAtCursor() = 0;
    // Whether a tray shows the icon now.
    virtual bool hasIcon() const = 0;
    // Runs then once it is known whether a tray shows the icon: at once when that is known, else
    // when the session bus has answered.
    virtual void whenTrayKnown(std::function<void()> then) = 0;
};

} // namespace quaystone
