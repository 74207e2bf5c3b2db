// Runs the real listing once and prints what the popup would say: the reason and remedy of a failed
// listing, or how many listeners it found. Run by the listing tests inside a private mount namespace.
#include "discovery/DefaultPortListingService.h"
#include "discovery/ProcessCommandRunner.h"
#include "model/ListingErrorText.h"
#include "support/TestSupport.h"

#include <QCoreApplication>

#include <cstdio>

using namespace quaystone;

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    DefaultPortListingService service(std::make_unique<ProcessCommandRunner>());
    const PortListingResult result = test::awaitTask(service.listPorts(PortRange{3000, 9999}));
    const QString said =
        result ? QStringLiteral("listed %1").arg(result.value().size()) : listingErrorDescription(result.error());
    std::puts(said.toUtf8().constData());
    return 0;
}
