#include "app/TerminalStop.h"

#include "app/DefaultServices.h"
#include "discovery/SystemdCgroup.h"
#include "kernel/ListeningSockets.h"
#include "kernel/SocketHolderScan.h"
#include "model/AdministratorStopping.h"
#include "model/DisplayText.h"
#include "model/MainThreadTask.h"
#include "model/PortListing.h"
#include "model/ProcessKilling.h"
#include "model/ServiceStopping.h"
#include "model/StopPortHelperProtocol.h"
#include "model/WorkingDirectoryResolving.h"
#include "termination/InProcessAdministratorStopper.h"
#include "termination/PkexecAdministratorStopper.h"
#include "termination/SignalProcessKiller.h"
#include "termination/SystemdServiceStopper.h"

#include <QCoreApplication>
#include <QFile>

#include <set>

#include <unistd.h>

namespace quaystone::terminalstop {

namespace {

// The first of these that any part of the stop met decides the exit status.
constexpr ExitStatus precedence[] = {cancelled, notAuthorized, unavailable, failed};

ExitStatus statusFor(AdministratorStopOutcome outcome) {
    switch (outcome) {
    case AdministratorStopOutcome::stopped:
    case AdministratorStopOutcome::noListener: // gone since it was seen: nothing is left to stop
        return stopped;
    case AdministratorStopOutcome::cancelled:
        return cancelled;
    case AdministratorStopOutcome::notAuthorized:
        return notAuthorized;
    case AdministratorStopOutcome::unavailable:
        return unavailable;
    case AdministratorStopOutcome::failed:
        break;
    }
    return failed;
}

QByteArray shown(const QString &name) {
    return displayText(name).toUtf8();
}

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

QCoro::Task<int> run(QString portArgument, Services services, std::FILE *out, std::FILE *err) {
    const QByteArray text = portArgument.toUtf8();
    const std::optional<int> port = stopport::parsePort(std::string_view(text.constData(), text.size()));
    if (!port) {
        std::fputs("usage: quaystone --stop PORT (one port, 3000-9999, in plain digits)\n", err);
        co_return usage;
    }
    if (services.listing && services.serviceStopper && systemdcgroup::systemdIsRunning()) {
        const std::optional<ServiceUnit> unit = co_await unitOnPort(*services.listing, *port);
        if (unit) {
            const ServiceStopResult result = co_await services.serviceStopper->stop(*unit);
            switch (result.outcome) {
            case ServiceStopOutcome::stopped:
                std::fprintf(out, "Stopped %s, which held port %d.\n", shown(unit->name).constData(), *port);
                co_return stopped;
            case ServiceStopOutcome::notAuthorized:
                std::fprintf(err, "Not authorized to stop %s.\n", shown(unit->name).constData());
                co_return notAuthorized;
            case ServiceStopOutcome::failed:
                break;
            }
            std::fprintf(err, "Could not stop %s\n", shown(result.message).constData());
            co_return failed;
        }
    }
    const std::optional<PortListeners> listeners = services.findListeners(*port, services.ownUid);
    if (!listeners) {
        std::fputs("The kernel's socket tables cannot be read; nothing was stopped.\n", err);
        co_return failed;
    }
    if (listeners->owners.isEmpty()) {
        std::fprintf(err, "Nothing listens on port %d.\n", *port);
        co_return noListener;
    }

    std::set<ExitStatus> met;
    int told = 0;
    QList<quint32> asAdministrator;
    for (const quint32 owner : listeners->owners) {
        if (services.isRoot || owner != services.ownUid)
            asAdministrator.append(owner);
    }
    if (!services.isRoot && listeners->owners.contains(services.ownUid)) {
        // This user's own listeners need no password; those it may not signal, or cannot see,
        // are left to the administrator's stop.
        bool needsAdministrator = listeners->ownProcesses.isEmpty();
        for (const PortListeners::OwnProcess &process : listeners->ownProcesses) {
            const ProcessKillOutcome outcome = co_await services.killer->kill(process.pid, process.startTime);
            if (outcome == ProcessKillOutcome::permissionDenied) {
                needsAdministrator = true;
            } else if (outcome == ProcessKillOutcome::failed) {
                std::fprintf(err, "Could not stop %s (pid %d) on port %d.\n", shown(process.name).constData(),
                             process.pid, *port);
                met.insert(failed);
            } else {
                std::fprintf(out, "Stopped %s (pid %d) on port %d\n", shown(process.name).constData(), process.pid,
                             *port);
                ++told;
            }
        }
        if (needsAdministrator)
            asAdministrator.append(services.ownUid);
    }

    for (const quint32 owner : std::as_const(asAdministrator)) {
        const AdministratorStopResult result = co_await services.administrator->stop(*port, owner);
        for (const AdministratorStoppedProcess &process : result.processes) {
            if (process.failure.isEmpty()) {
                std::fprintf(out, "Stopped %s (pid %d) on port %d\n", shown(process.name).constData(), process.pid,
                             *port);
                ++told;
            } else {
                std::fprintf(err, "Could not stop %s (pid %d) on port %d: %s\n", shown(process.name).constData(),
                             process.pid, *port, shown(process.failure).constData());
            }
        }
        met.insert(statusFor(result.outcome));
        switch (result.outcome) {
        case AdministratorStopOutcome::cancelled:
            std::fputs("Authentication was cancelled; nothing was stopped.\n", err);
            break;
        case AdministratorStopOutcome::notAuthorized:
            std::fprintf(err, "Not authorized to stop the processes listening on port %d.\n", *port);
            break;
        case AdministratorStopOutcome::unavailable:
            std::fputs("Stopping as administrator is unavailable (is pkexec installed, and the app's helper?).\n", err);
            break;
        case AdministratorStopOutcome::failed:
            std::fprintf(err, "Could not stop every process listening on port %d.\n", *port);
            break;
        case AdministratorStopOutcome::stopped:
        case AdministratorStopOutcome::noListener:
            break;
        }
    }
    for (const ExitStatus status : precedence) {
        if (met.count(status) != 0)
            co_return status;
    }
    if (told == 0)
        std::fprintf(out, "Stopped the processes listening on port %d.\n", *port);
    co_return stopped;
}

std::optional<PortListeners> findListeners(int port, quint32 ownUid) {
    const std::optional<std::vector<ListeningSocket>> sockets = kernel::readListeningSockets();
    if (!sockets)
        return std::nullopt;
    PortListeners listeners;
    std::set<std::uint64_t> own;
    for (const ListeningSocket &socket : *sockets) {
        if (socket.port != port)
            continue;
        if (!listeners.owners.contains(socket.uid))
            listeners.owners.append(socket.uid);
        if (socket.uid == ownUid)
            own.insert(socket.inode);
    }
    if (own.empty())
        return listeners;
    for (const kernel::PinnedProcess &process : kernel::SocketHolderScan::pinAll(own, uid_t(ownUid)).holders) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(process.pid));
        QByteArray name = comm.open(QIODevice::ReadOnly) ? comm.readAll() : QByteArray("?");
        if (name.endsWith('\n'))
            name.chop(1);
        listeners.ownProcesses.append({process.pid, process.startTime, QString::fromUtf8(name)});
    }
    return listeners;
}

int runOnEventLoop(const QString &portArgument) {
    const bool isRoot = ::geteuid() == 0;
    std::shared_ptr<AdministratorStopping> administrator;
    if (isRoot)
        administrator = std::make_shared<InProcessAdministratorStopper>();
    else
        administrator = PkexecAdministratorStopper::makeDefault();
    std::shared_ptr<ProcessKilling> killer = SignalProcessKiller::makeDefault();
    std::shared_ptr<PortListing> listing = makeDefaultServices().listing;
    auto serviceStopper = std::make_shared<SystemdServiceStopper>();
    const Services services{findListeners, killer.get(),  administrator.get(), quint32(::getuid()),
                            isRoot,        listing.get(), serviceStopper.get()};
    startMainThreadTask([administrator, killer, listing, serviceStopper, services, portArgument]() -> QCoro::Task<> {
        const int status = co_await run(portArgument, services, stdout, stderr);
        std::fflush(stdout);
        QCoreApplication::exit(status);
    });
    return QCoreApplication::exec();
}

} // namespace quaystone::terminalstop
