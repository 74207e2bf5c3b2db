#include "app/TerminalStop.h"

#include "app/DefaultServices.h"
#include "discovery/SystemdCgroup.h"
#include "model/AdministratorStopping.h"
#include "model/MainThreadTask.h"
#include "model/PortListing.h"
#include "model/ProcessKilling.h"
#include "model/ServiceStopping.h"
#include "model/StopPortHelperProtocol.h"
#include "model/WorkingDirectoryResolving.h"
#include "termination/PkexecAdministratorStopper.h"
#include "termination/SystemdServiceStopper.h"

#include <QCoreApplication>

namespace quaystone::terminalstop {

namespace {

// The unit that holds the port, if the listing names one this user can have stopped.
QCoro::Task<std::optional<ServiceUnit>> unitOnPort(PortListing &listing, qint64 port) {
    const PortListingResult result = co_await listing.listPorts(PortRange{port, port});
    if (!result)
        co_return std::nullopt;
    for (const PortEntry &entry : result.value()) {
        if (entry.port() == port && entry.service() && isStoppableHere(*entry.service()))
            co_return entry.service();
    }
    co_return std::nullopt;
}

} // namespace

QCoro::Task<int> run(QString portArgument, AdministratorStopping &stopper, std::FILE *out, std::FILE *err,
                     PortListing *listing, ServiceStopping *serviceStopper) {
    const QByteArray text = portArgument.toUtf8();
    const std::optional<int> port = stopport::parsePort(std::string_view(text.constData(), text.size()));
    if (!port) {
        std::fputs("usage: quaystone --stop PORT (one port, 3000-9999, in plain digits)\n", err);
        co_return usage;
    }
    // Its manager would start a signalled service again, and a socket unit's port is held by
    // the manager itself.
    if (listing && serviceStopper && systemdcgroup::systemdIsRunning()) {
        const std::optional<ServiceUnit> unit = co_await unitOnPort(*listing, *port);
        if (unit) {
            const QByteArray name = unit->name.toUtf8();
            const ServiceStopResult result = co_await serviceStopper->stop(*unit);
            switch (result.outcome) {
            case ServiceStopOutcome::stopped:
                std::fprintf(out, "Stopped %s, which held port %d.\n", name.constData(), *port);
                co_return stopped;
            case ServiceStopOutcome::notAuthorized:
                std::fprintf(err, "Not authorized to stop %s.\n", name.constData());
                co_return notAuthorized;
            case ServiceStopOutcome::failed:
                break;
            }
            std::fprintf(err, "Could not stop %s\n", result.message.toUtf8().constData());
            co_return failed;
        }
    }
    const AdministratorStopOutcome outcome = co_await stopper.stop(*port);
    switch (outcome) {
    case AdministratorStopOutcome::stopped:
        std::fprintf(out, "Stopped the processes listening on port %d.\n", *port);
        co_return stopped;
    case AdministratorStopOutcome::noListener:
        std::fprintf(err, "Nothing listens on port %d.\n", *port);
        co_return noListener;
    case AdministratorStopOutcome::cancelled:
        std::fputs("Authentication was cancelled; nothing was stopped.\n", err);
        co_return cancelled;
    case AdministratorStopOutcome::notAuthorized:
        std::fprintf(err, "Not authorized to stop the processes listening on port %d.\n", *port);
        co_return notAuthorized;
    case AdministratorStopOutcome::unavailable:
        std::fputs("Stopping as administrator is unavailable (is pkexec installed, and the app's helper?).\n", err);
        co_return unavailable;
    case AdministratorStopOutcome::failed:
        break;
    }
    std::fprintf(err, "Could not stop every process listening on port %d.\n", *port);
    co_return failed;
}

int runOnEventLoop(const QString &portArgument) {
    std::shared_ptr<AdministratorStopping> stopper = PkexecAdministratorStopper::makeDefault();
    std::shared_ptr<PortListing> listing = makeDefaultServices().listing;
    auto serviceStopper = std::make_shared<SystemdServiceStopper>();
    startMainThreadTask([stopper, listing, serviceStopper, portArgument]() -> QCoro::Task<> {
        const int status = co_await run(portArgument, *stopper, stdout, stderr, listing.get(), serviceStopper.get());
        std::fflush(stdout);
        QCoreApplication::exit(status);
    });
    return QCoreApplication::exec();
}

} // namespace quaystone::terminalstop
