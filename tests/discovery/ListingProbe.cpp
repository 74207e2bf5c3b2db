// Runs the listing the app uses once and prints one line per row, "pid port name", or the reason and
// remedy of a failed listing (exit status 1). The listing tests run it as another user, since lsof
// run by root sees every process, and inside a private mount namespace where lsof has been replaced.
// "kernel LOW HIGH" or "lsof LOW HIGH" runs that listing alone over the range instead, the kernel's
// without a fallback, each row named by the per-row step's rule.
#include "discovery/DefaultPortListingService.h"
#include "discovery/KernelPortListingService.h"
#include "discovery/ProcessCommandRunner.h"
#include "discovery/ProcessWorkingDirectoryResolver.h"
#include "discovery/SystemPortListingService.h"
#include "model/ListingErrorText.h"
#include "support/TestSupport.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace quaystone;

namespace {

struct NoFallback final : PortListing {
    QCoro::Task<PortListingResult> listPorts(PortRange) override { co_return ListingError{}; }
};

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    std::unique_ptr<PortListing> listing = std::make_unique<SystemPortListingService>(
        std::make_unique<DefaultPortListingService>(std::make_unique<ProcessCommandRunner>()));
    PortRange range{3000, 9999};
    if (argc == 4) {
        range = {std::atoi(argv[2]), std::atoi(argv[3])};
        if (std::strcmp(argv[1], "kernel") == 0)
            listing = std::make_unique<KernelPortListingService>(std::make_unique<NoFallback>(),
                                                                 SystemPortListingService::listingUser());
        else
            listing = std::make_unique<DefaultPortListingService>(std::make_unique<ProcessCommandRunner>());
    }
    PortListingResult result = test::awaitTask(listing->listPorts(range));
    if (!result) {
        std::puts(qUtf8Printable(listingErrorDescription(result.error())));
        return 1;
    }
    for (const PortEntry &listed : result.value()) {
        const PortEntry entry =
            argc == 4 ? listed.withDetails(ProcessWorkingDirectoryResolver::read(listed.pid())) : listed;
        std::printf("%d %lld %s\n", entry.pid(), static_cast<long long>(entry.port()),
                    qUtf8Printable(entry.processName()));
    }
    return 0;
}
