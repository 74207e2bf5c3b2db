#pragma once

#include "discovery/CommandRunning.h"
#include "model/PortEntry.h"
#include "model/PortRange.h"

#include <QList>

namespace quaystone {

using PortListingResult = Result<QList<PortEntry>, CommandRunnerError>;

class PortListing {
public:
    virtual ~PortListing() = default;

    // The listeners whose port lies in range, sorted by port then pid, without working
    // directories; or the error of the command that lists them.
    virtual QCoro::Task<PortListingResult> listPorts(PortRange range) = 0;
};

} // namespace quaystone
