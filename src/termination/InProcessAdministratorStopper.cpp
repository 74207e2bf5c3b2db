#include "termination/InProcessAdministratorStopper.h"

#include "kernel/StopPort.h"
#include "model/StopPortHelperProtocol.h"
#include "termination/PkexecAdministratorStopper.h"

#include <QtConcurrent/QtConcurrentRun>
#include <qcoro/qcorofuture.h>

namespace quaystone {

QCoro::Task<AdministratorStopResult> InProcessAdministratorStopper::stop(qint64 port, quint32 uid) {
    if (port < stopport::lowestPort || port > stopport::highestPort)
        co_return AdministratorStopResult{AdministratorStopOutcome::failed, {}};
    // The stop waits out the grace period; the event loop keeps running meanwhile.
    const kernel::StopPortResult stopped =
        co_await QtConcurrent::run([port, uid] { return kernel::stopPort(int(port), uid_t(uid)); });
    AdministratorStopResult result;
    result.outcome = PkexecAdministratorStopper::outcomeFor(CommandResult{stopped.status, {}, {}});
    for (const kernel::StoppedProcess &process : stopped.processes)
        result.processes.append(PkexecAdministratorStopper::fromKernel(process));
    co_return result;
}

} // namespace quaystone
