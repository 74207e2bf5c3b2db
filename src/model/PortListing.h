#pragma once

#include "model/PortEntry.h"
#include "model/PortRange.h"
#include "model/Result.h"

#include <QList>
#include <QString>
#include <qcoro/qcorotask.h>

namespace quaystone {

// Why a listing produced no list. Each says what the user can do about it.
enum class ListingFailure {
    toolMissing,       // nothing at the configured path
    toolNotExecutable, // a file is there but may not be run
    launchFailed,      // any other reason the tool could not be started
    timedOut,          // the tool ran past the listing's deadline and was stopped
};

struct ListingError {
    ListingFailure failure = ListingFailure::launchFailed;
    QString toolPath;

    friend bool operator==(const ListingError &, const ListingError &) = default;
};

using PortListingResult = Result<QList<PortEntry>, ListingError>;

class PortListing {
public:
    virtual ~PortListing() = default;

    // The listeners whose port lies in range, sorted by port then pid, without the details of
    // their processes; or why they could not be listed.
    virtual QCoro::Task<PortListingResult> listPorts(PortRange range) = 0;
};

} // namespace quaystone
