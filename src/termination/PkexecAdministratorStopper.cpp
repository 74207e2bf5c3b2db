#include "PkexecAdministratorStopper.h"

#include "discovery/ProcessCommandRunner.h"
#include "kernel/StopPort.h"
#include "model/StopPortHelperProtocol.h"

#include <QFileInfo>

#include <chrono>

namespace quaystone {

PkexecAdministratorStopper::PkexecAdministratorStopper(std::unique_ptr<CommandRunning> runner, QString pkexecPath,
                                                       QString helperPath)
    : m_runner(std::move(runner))
    , m_pkexecPath(std::move(pkexecPath))
    , m_helperPath(std::move(helperPath)) {}

PkexecAdministratorStopper::~PkexecAdministratorStopper() = default;

std::unique_ptr<PkexecAdministratorStopper> PkexecAdministratorStopper::makeDefault() {
    QString helper;
#ifdef QUAYSTONE_STOP_PORT_HELPER_OVERRIDE
    helper = qEnvironmentVariable("QUAYSTONE_STOP_PORT_HELPER");
#endif
    if (helper.isEmpty())
        helper = QStringLiteral(QUAYSTONE_STOP_PORT_HELPER_PATH);
    return std::make_unique<PkexecAdministratorStopper>(std::make_unique<ProcessCommandRunner>(),
                                                        QStringLiteral(QUAYSTONE_PKEXEC_PATH), helper);
}

QCoro::Task<AdministratorStopResult> PkexecAdministratorStopper::stop(qint64 port, quint32 uid) {
    if (port < stopport::lowestPort || port > stopport::highestPort)
        co_return AdministratorStopResult{AdministratorStopOutcome::failed, {}};
    // pkexec reports a missing program with the same status as a refusal, so look first.
    if (!QFileInfo(m_helperPath).isExecutable() || !QFileInfo(m_pkexecPath).isExecutable())
        co_return AdministratorStopResult{AdministratorStopOutcome::unavailable, {}};
    // Built apart from the call: GCC 12 miscompiles a braced list inside a co_await expression.
    QStringList arguments{m_helperPath, QString::number(port), QString::number(uid)};
    // The user may take a while over the password; a dialog left open for longer is given up.
    constexpr std::chrono::minutes authenticationTimeLimit{10};
    const CommandRunResult result = co_await m_runner->run(m_pkexecPath, std::move(arguments), authenticationTimeLimit);
    if (!result)
        co_return AdministratorStopResult{AdministratorStopOutcome::unavailable, {}};
    AdministratorStopResult stopped;
    stopped.outcome = outcomeFor(result.value());
    stopped.processes = processesIn(result.value().standardOutput);
    co_return stopped;
}

QList<AdministratorStoppedProcess> PkexecAdministratorStopper::processesIn(const QByteArray &helperOutput) {
    QList<AdministratorStoppedProcess> processes;
    for (const QByteArray &line : helperOutput.split('\n')) {
        if (const auto process = kernel::parseReportLine(std::string_view(line.constData(), size_t(line.size()))))
            processes.append(fromKernel(*process));
    }
    return processes;
}

AdministratorStoppedProcess PkexecAdministratorStopper::fromKernel(const kernel::StoppedProcess &process) {
    return {process.pid, QString::fromStdString(process.name), QString::fromStdString(process.failure)};
}

AdministratorStopOutcome PkexecAdministratorStopper::outcomeFor(const CommandResult &result) {
    switch (result.terminationStatus) {
    case stopport::stopped:
        return AdministratorStopOutcome::stopped;
    case stopport::noListener:
        return AdministratorStopOutcome::noListener;
    case stopport::notPermitted:
        return AdministratorStopOutcome::notAuthorized;
    case stopport::pkexecDismissed:
        return AdministratorStopOutcome::cancelled;
    case stopport::pkexecNotAuthorized:
        // pkexec's messages are not translated. These two say that nothing could be asked at
        // all: no polkit daemon on the system bus, or the helper went away since it was checked.
        if (result.standardError.contains("Error getting authority") ||
            result.standardError.contains("Cannot run program"))
            return AdministratorStopOutcome::unavailable;
        return AdministratorStopOutcome::notAuthorized;
    default:
        return AdministratorStopOutcome::failed;
    }
}

} // namespace quaystone
