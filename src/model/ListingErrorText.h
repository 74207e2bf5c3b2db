#pragma once

#include "model/PortListing.h"

#include <QString>

namespace quaystone {

// The reason and the remedy in one sentence or two, for the popup's error view and the terminal.
QString listingErrorDescription(const ListingError &error);
// A few words for the footer of a list that is kept after a failed update.
QString listingErrorSummary(const ListingError &error);

} // namespace quaystone
