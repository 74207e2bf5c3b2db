#pragma once

#include "app/LaunchAtLoginControlling.h"
#include "app/MenuPresenting.h"
#include "app/PopoverPresenting.h"

namespace quaystone::test {

class FakePopover : public PopoverPresenting {
public:
    bool isShown() const override { return shown; }
    void present() override { shown = true; }
    void dismiss() override { shown = false; }
    void setKeyHandler(KeyHandler handler) override { keyHandler = std::move(handler); }
    void setIconPressHandler(IconPressHandler) override {}
    int pageStep(int direction) const override { return direction * 5; }
    bool canBePlaced() const override { return placeable; }

    bool shown = false;
    bool placeable = true;
    KeyHandler keyHandler;
};

class FakeMenu : public MenuPresenting {
public:
    void install(MenuBarController &) override {}
    void setLaunchAtLoginChecked(bool) override {}
    void popUpAtCursor() override { ++popUpCount; }
    bool hasIcon() const override { return icon; }
    void whenTrayKnown(std::function<void()> then) override { then(); }

    int popUpCount = 0;
    bool icon = true;
};

// Keeps the setting in memory and counts its reads; a refusing one changes nothing.
class FakeLaunchAtLogin : public LaunchAtLoginControlling {
public:
    FakeLaunchAtLogin(bool enabled, bool refuses)
        : enabled(enabled)
        , refuses(refuses) {}

    bool isEnabled() const override {
        ++reads;
        return enabled;
    }
    std::optional<LaunchAtLoginError> setEnabled(bool value) override {
        if (refuses)
            return LaunchAtLoginError::writeFailed;
        enabled = value;
        return std::nullopt;
    }

    bool enabled;
    bool refuses;
    mutable int reads = 0;
};

} // namespace quaystone::test
