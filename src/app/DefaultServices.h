#pragma once

#include "app/LaunchOptions.h"

#include <memory>

namespace quaystone {

class PortListing;
class WorkingDirectoryResolving;
class ProcessKilling;

// The real services behind the popup's store. The terminal listing is built from the same
// ones, so that both show the same rows.
struct DefaultServices {
    std::unique_ptr<PortListing> listing;
    std::unique_ptr<WorkingDirectoryResolving> workingDirectoryResolver;
    std::unique_ptr<ProcessKilling> processKiller;
};

DefaultServices makeDefaultServices(ListingSource source = ListingSource::kernel);

} // namespace quaystone
