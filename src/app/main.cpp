// Temporary entry point until the tray app lands: prints the current listeners.
#include "discovery/DefaultPortListingService.h"
#include "discovery/ProcessCommandRunner.h"
#include "discovery/ProcessWorkingDirectoryResolver.h"
#include "model/PortStore.h"
#include "termination/SignalProcessKiller.h"

#include <QCoreApplication>
#include <QTimer>
#include <qcoro/qcorotask.h>

#include <cstdio>

using namespace quaystone;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    PortStore store(std::make_unique<DefaultPortListingService>(std::make_unique<ProcessCommandRunner>()),
                    std::make_unique<ProcessWorkingDirectoryResolver>(), SignalProcessKiller::makeDefault());
    QCoro::connect(store.refresh(), &app, [&] {
        for (const PortEntry &e : store.entries()) {
            std::printf("%5lld  %-20s %s\n", static_cast<long long>(e.port()), qUtf8Printable(e.processName()),
                        qUtf8Printable(e.workingDirectory().value_or(QString())));
        }
        app.quit();
    });
    return app.exec();
}
