#pragma once

#include <QHashFunctions>
#include <QtGlobal>

#include <cstddef>
#include <functional>

namespace quaystone {

// The identity of one listed row: the owning process and the port. A listener of another user
// that cannot be seen as a process has pid 0 and is told apart by its owner's uid instead.
struct PortEntryID {
    qint32 pid = 0;
    qint64 port = 0;
    qint64 ownerUid = -1; // only for rows without a pid

    friend bool operator==(const PortEntryID &, const PortEntryID &) = default;
};

inline size_t qHash(const PortEntryID &id, size_t seed = 0) noexcept {
    return qHashMulti(seed, id.pid, id.port, id.ownerUid);
}

} // namespace quaystone

template <>
struct std::hash<quaystone::PortEntryID> {
    size_t operator()(const quaystone::PortEntryID &id) const noexcept {
        // pid first, then port, mixed as boost::hash_combine does.
        size_t h = std::hash<qint32>{}(id.pid);
        h ^= std::hash<qint64>{}(id.port) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
        h ^= std::hash<qint64>{}(id.ownerUid) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2);
        return h;
    }
};
