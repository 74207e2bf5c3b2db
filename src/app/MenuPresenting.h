#pragma once

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
};

} // namespace quaystone
