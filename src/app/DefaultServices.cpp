#include "app/DefaultServices.h"

#include "discovery/DefaultPortListingService.h"
#include "discovery/ProcessCommandRunner.h"
#include "discovery/ProcessWorkingDirectoryResolver.h"
#include "termination/SignalProcessKiller.h"

namespace quaystone {

DefaultServices makeDefaultServices() {
    DefaultServices services;
    services.listing = std::make_unique<DefaultPortListingService>(std::make_unique<ProcessCommandRunner>());
    services.workingDirectoryResolver = std::make_unique<ProcessWorkingDirectoryResolver>();
    services.processKiller = SignalProcessKiller::makeDefault();
    return services;
}

} // namespace quaystone
