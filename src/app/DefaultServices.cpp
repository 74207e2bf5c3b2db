#include "app/DefaultServices.h"

#include "discovery/DefaultPortListingService.h"
#include "discovery/ProcessCommandRunner.h"
#include "discovery/ProcessWorkingDirectoryResolver.h"
#include "discovery/SystemPortListingService.h"
#include "termination/SignalProcessKiller.h"

namespace quaystone {

DefaultServices makeDefaultServices() {
    DefaultServices services;
    // lsof's rows, and beside them other users' listeners that lsof cannot see.
    services.listing = std::make_unique<SystemPortListingService>(
        std::make_unique<DefaultPortListingService>(std::make_unique<ProcessCommandRunner>()));
    services.workingDirectoryResolver = std::make_unique<ProcessWorkingDirectoryResolver>();
    services.processKiller = SignalProcessKiller::makeDefault();
    return services;
}

} // namespace quaystone
