#pragma once

#include "app/LaunchAtLoginControlling.h"

namespace quaystone {

// Keeps the setting in memory, starting disabled; reads back exactly what was last set and
// never fails. Main thread only.
class UITestLaunchAtLoginController : public LaunchAtLoginControlling {
public:
    bool isEnabled() const override { return m_enabled; }
    std::optional<LaunchAtLoginError> setEnabled(bool enabled) override;

private:
    bool m_enabled = false;
};

} // namespace quaystone
