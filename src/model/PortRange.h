#pragma once

#include <QtGlobal>

namespace quaystone {

// Inclusive range of watched ports. A range whose lower bound is above its upper bound
// contains no port; that is not checked or corrected.
struct PortRange {
    qint64 lowerBound = 3000;
    qint64 upperBound = 9999;

    bool contains(qint64 port) const { return lowerBound <= port && port <= upperBound; }

    friend bool operator==(const PortRange &, const PortRange &) = default;
};

} // namespace quaystone
