#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>
#include <qcoro/qcorotask.h>

namespace quaystone {

enum class AdministratorStopOutcome {
    stopped,       // every process of the user listening on the port was stopped
    noListener,    // nothing of the user listened on the port any more
    cancelled,     // the user dismissed the authentication dialog
    notAuthorized, // authentication failed or was refused, or the system refused a signal
    unavailable,   // pkexec or the helper is not installed
    failed,        // a listener survived or could not be reached
};

// One process the stop found on the port, and what became of it.
struct AdministratorStoppedProcess {
    qint32 pid = 0;
    QString name;    // the kernel's name of the process, as it is (not escaped for display)
    QString failure; // empty when it was stopped

    friend bool operator==(const AdministratorStoppedProcess &, const AdministratorStoppedProcess &) = default;
};

struct AdministratorStopResult {
    AdministratorStopOutcome outcome = AdministratorStopOutcome::failed;
    QList<AdministratorStoppedProcess> processes;
};

// Stops the processes of one user that listen on a port with a socket of that user, with
// administrator rights the user authenticates for. Never fails otherwise: every refusal becomes
// an outcome.
class AdministratorStopping {
public:
    virtual ~AdministratorStopping() = default;

    virtual QCoro::Task<AdministratorStopResult> stop(qint64 port, quint32 uid) = 0;
};

} // namespace quaystone
