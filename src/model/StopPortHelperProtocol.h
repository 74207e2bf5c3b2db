#pragma once

// What the app and the privileged stop-port helper agree on. Plain C++: the helper links
// nothing but the C++ library.

#include <sys/types.h>

#include <optional>
#include <string_view>

namespace quaystone::stopport {

// The helper's exit statuses. pkexec passes them on unchanged and adds its own two below.
enum ExitStatus : int {
    stopped = 0,      // every process of the user listening on the port was stopped, or had exited by itself
    refusedInput = 2, // not exactly one argument, or not a plain decimal port in 3000-9999
    noListener = 3,   // nothing of that user listens on the port
    notPermitted = 4, // the system refused to let the helper read or signal a listener's process
    failed = 5,       // a listener survived, has no process of its user that can be seen, is a protected
                      // process, or is still held by a process of another user
};

// pkexec's own statuses: the user dismissed the authentication dialog; or the caller is not
// authorized, no authentication agent could ask, or pkexec itself failed.
inline constexpr int pkexecDismissed = 126;
inline constexpr int pkexecNotAuthorized = 127;

inline constexpr int lowestPort = 3000;
inline constexpr int highestPort = 9999;

// The port in its one accepted spelling: one to four ASCII digits, no sign, no space, inside
// the watched range. Anything else, "05000" and "+5000" included, is refused.
inline std::optional<int> parsePort(std::string_view text) {
    if (text.empty() || text.size() > 4)
        return std::nullopt;
    int port = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        port = port * 10 + (c - '0');
    }
    if (port < lowestPort || port > highestPort)
        return std::nullopt;
    return port;
}

// The uid in its one accepted spelling: one to ten ASCII digits, no sign, below 2^32 - 1 (which
// stands for no user).
inline std::optional<uid_t> parseUid(std::string_view text) {
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    unsigned long long uid = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        uid = uid * 10 + static_cast<unsigned long long>(c - '0');
    }
    if (uid >= 0xFFFFFFFFull)
        return std::nullopt;
    return static_cast<uid_t>(uid);
}

} // namespace quaystone::stopport
