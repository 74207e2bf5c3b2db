#include "app/DefaultServices.h"

#include "discovery/ContainerPortListing.h"
#include "discovery/DefaultPortListingService.h"
#include "discovery/DockerContainerListing.h"
#include "discovery/ProcessCommandRunner.h"
#include "discovery/ProcessWorkingDirectoryResolver.h"
#include "discovery/SystemPortListingService.h"
#include "discovery/SystemdUnitPortListing.h"
#include "termination/SignalProcessKiller.h"

namespace quaystone {

DefaultServices makeDefaultServices() {
    DefaultServices services;
    // lsof's rows, and beside them other users' listeners that lsof cannot see, each named by
    // its systemd unit where it has one; ports that containers publish are named by their
    // container when an engine answers.
    services.listing = std::make_unique<ContainerPortListing>(
        std::make_unique<SystemdUnitPortListing>(std::make_unique<SystemPortListingService>(
            std::make_unique<DefaultPortListingService>(std::make_unique<ProcessCommandRunner>()))),
        std::make_unique<DockerContainerListing>());
    services.workingDirectoryResolver = std::make_unique<ProcessWorkingDirectoryResolver>();
    services.processKiller = SignalProcessKiller::makeDefault();
    return services;
}

} // namespace quaystone
