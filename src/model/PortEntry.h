#pragma once

#include "PortEntryID.h"

#include <QString>

#include <optional>

namespace quaystone {

// One listening TCP socket and what is known of its process. An immutable value:
// a changed entry is a new value (see withWorkingDirectory).
class PortEntry {
public:
    PortEntry(qint32 pid, qint64 port, QString processName, std::optional<QString> workingDirectory = std::nullopt)
        : m_id{pid, port}
        , m_processName(std::move(processName))
        , m_workingDirectory(std::move(workingDirectory)) {}

    PortEntryID id() const { return m_id; }
    qint32 pid() const { return m_id.pid; }
    qint64 port() const { return m_id.port; }
    const QString &processName() const { return m_processName; }
    const std::optional<QString> &workingDirectory() const { return m_workingDirectory; }

    PortEntry withWorkingDirectory(std::optional<QString> workingDirectory) const {
        return PortEntry(pid(), port(), m_processName, std::move(workingDirectory));
    }

    // Field by field; strings compare by canonical equivalence, so names that differ only
    // in Unicode normalisation are equal.
    friend bool operator==(const PortEntry &a, const PortEntry &b);

private:
    // The id is stored once; pid() and port() read it, so they can never disagree with it.
    PortEntryID m_id;
    QString m_processName;
    std::optional<QString> m_workingDirectory;
};

// True when the two strings are canonically equivalent Unicode text.
bool canonicallyEqual(const QString &a, const QString &b);

// The list order used everywhere: port ascending, then pid ascending.
inline bool displayOrderLess(const PortEntry &a, const PortEntry &b) {
    return a.port() != b.port() ? a.port() < b.port() : a.pid() < b.pid();
}

} // namespace quaystone
