#include "app/TerminalStop.h"

#include "model/AdministratorStopping.h"
#include "model/MainThreadTask.h"
#include "model/StopPortHelperProtocol.h"
#include "termination/PkexecAdministratorStopper.h"

#include <QCoreApplication>

namespace quaystone::terminalstop {

QCoro::Task<int> run(QString portArgument, AdministratorStopping &stopper, std::FILE *out, std::FILE *err) {
    const QByteArray text = portArgument.toUtf8();
    const std::optional<int> port = stopport::parsePort(std::string_view(text.constData(), text.size()));
    if (!port) {
        std::fputs("usage: quaystone --stop PORT (one port, 3000-9999, in plain digits)\n", err);
        co_return usage;
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
    startMainThreadTask([stopper, portArgument]() -> QCoro::Task<> {
        const int status = co_await run(portArgument, *stopper, stdout, stderr);
        std::fflush(stdout);
        QCoreApplication::exit(status);
    });
    return QCoreApplication::exec();
}

} // namespace quaystone::terminalstop
