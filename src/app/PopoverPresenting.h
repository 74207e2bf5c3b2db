#pragma once

#include "app/TrayActivation.h"

#include <Qt>

#include <functional>

namespace quaystone {

struct KeyDownEvent;

// The popup as the menu-bar controller sees it.
class PopoverPresenting {
public:
    using KeyHandler = std::function<bool(const KeyDownEvent &)>;
    using IconPressHandler = std::function<void(TrayActivation, Qt::KeyboardModifiers)>;

    virtual ~PopoverPresenting() = default;

    virtual bool isShown() const = 0;
    // Places the popup at the tray icon and shows it.
    virtual void present() = 0;
    // Closes the popup; does nothing when it is not shown.
    virtual void dismiss() = 0;
    // The handler sees every key press while the popup is shown and returns whether it took it.
    virtual void setKeyHandler(KeyHandler handler) = 0;
    // The handler hears of a press on the tray icon that closed the popup. The icon itself may
    // never see that press, since the open popup holds the pointer.
    virtual void setIconPressHandler(IconPressHandler handler) = 0;
    // How many rows a page down (direction 1) or up (-1) moves the selection, by what is shown.
    virtual int pageStep(int direction) const = 0;
    // Whether the popup can be put at the icon now; where it cannot, the ports show in a window.
    virtual bool canBePlaced() const { return true; }
};

} // namespace quaystone
