#pragma once

#include <optional>

namespace quaystone {

enum class LaunchAtLoginError { writeFailed, removeFailed };

class LaunchAtLoginControlling {
public:
    virtual ~LaunchAtLoginControlling() = default;

    // Whether the app is currently registered to start at login; read afresh each time.
    virtual bool isEnabled() const = 0;
    // Registers (true) or unregisters (false) the app. Returns the error, or none on success.
    virtual std::optional<LaunchAtLoginError> setEnabled(bool enabled) = 0;
};

} // namespace quaystone
