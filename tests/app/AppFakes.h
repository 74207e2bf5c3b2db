#pragma once

#include "app/KeyDownEvent.h"
#include "app/LaunchAtLoginControlling.h"
#include "app/MenuPresenting.h"
#include "app/PopoverPresenting.h"

namespace quaystone::test {

class FakePopover : public PopoverPresenting {
public:
    bool isShown() const override { return shown; }
    void present() override {
        shown = true;
        ++presentCount;
    }
    void dismiss() override {
        shown = false;
        ++dismissCount;
    }
    void setKeyHandler(KeyHandler handler) override { keyHandler = std::move(handler); }
    void setIconPressHandler(IconPressHandler handler) override { iconPressHandler = std::move(handler); }

    bool shown = false;
    int presentCount = 0;
    int dismissCount = 0;
    KeyHandler keyHandler;
    IconPressHandler iconPressHandler;
};

class FakeMenu : public MenuPresenting {
public:
    void install(MenuBarController &) override { ++installCount; }
    void setLaunchAtLoginChecked(bool value) override { checked = value; }
    void popUpAtCursor() override { ++popUpCount; }

    int installCount = 0;
    int popUpCount = 0;
    std::optional<bool> checked;
};

// Keeps the setting in memory; a refusing one reports an error and changes nothing.
class FakeLaunchAtLogin : public LaunchAtLoginControlling {
public:
    FakeLaunchAtLogin(bool enabled, bool refuses)
        : enabled(enabled)
        , refuses(refuses) {}

    bool isEnabled() const override { return enabled; }
    std::optional<LaunchAtLoginError> setEnabled(bool value) override {
        if (refuses)
            return value ? LaunchAtLoginError::writeFailed : LaunchAtLoginError::removeFailed;
        enabled = value;
        return std::nullopt;
    }

    bool enabled;
    bool refuses;
};

} // namespace quaystone::test
