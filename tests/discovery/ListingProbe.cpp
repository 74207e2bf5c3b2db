// Runs the listing the app uses once and prints one line per row, "pid port name", or the reason and
// remedy of a failed listing (exit status 1). The listing tests run it as another user, since lsof
// run by root sees every process, and inside a private mount namespace where lsof has been replaced.
#include "discovery/DefaultPortListingService.h"
#include "discovery/ProcessCommandRunner.h"
#include "discovery/SystemPortListingService.h"
#include "model/ListingErrorText.h"
#include "support/TestSupport.h"

#include <QCoreApplication>

#include <cstdio>

using namespace quaystone;

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    SystemPortListingService listing(
        std::make_unique<DefaultPortListingService>(std::make_unique<ProcessCommandRunner>()));
    const PortListingResult result = test::awaitTask(listing.listPorts(PortRange{3000, 9999}));
    if (!result) {
        std::puts(qUtf8Printable(listingErrorDescription(result.error())));
        return 1;
    }
    for (const PortEntry &entry : result.value())
        std::printf("%d %lld %s\n", entry.pid(), static_cast<long long>(entry.port()),
                    qUtf8Printable(entry.processName()));
    return 0;
}
