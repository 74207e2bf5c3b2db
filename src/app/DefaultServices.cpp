#include "app/DefaultServices.h"

#include "discovery/ContainerPortListing.h"
#include "discovery/DefaultPortListingService.h"
#include "discovery/DockerContainerListing.h"
#include "discovery/KernelPortListingService.h"
#include "discovery/ProcessCommandRunner.h"
#include "discovery/ProcessWorkingDirectoryResolver.h"
#include "discovery/SystemPortListingService.h"
#include "discovery/SystemdUnitPortListing.h"
#include "termination/SignalProcessKiller.h"

namespace quaystone {

DefaultServices makeDefaultServices(ListingSource source) {
    DefaultServices services;
    // The kernel's rows (lsof's where the kernel cannot serve, or when asked for), and beside them
    // other users' listeners that a normal user's processes do not show, each named by its systemd
    // unit where it has one; ports that containers publish are named by their container when an
    // engine answers.
    std::unique_ptr<PortListing> processes =
        std::make_unique<DefaultPortListingService>(std::make_unique<ProcessCommandRunner>());
    if (source == ListingSource::kernel)
        processes =
            std::make_unique<KernelPortListingService>(std::move(processes), SystemPortListingService::listingUser());
    services.listing = std::make_unique<ContainerPortListing>(
        std::make_unique<SystemdUnitPortListing>(std::make_unique<SystemPortListingService>(std::move(processes))),
        std::make_unique<DockerContainerListing>());
    services.workingDirectoryResolver = std::make_unique<ProcessWorkingDirectoryResolver>();
    services.processKiller = SignalProcessKiller::makeDefault();
    return services;
}

} // namespace quaystone
