#pragma once

#include <QList>
#include <QString>
#include <qcoro/qcorotask.h>

#include <cstdio>
#include <functional>
#include <optional>

namespace quaystone {

class AdministratorStopping;
class PortListing;
class ProcessKilling;
class ServiceStopping;

// `quaystone --stop PORT`: the popup's stop from a terminal without a display.
namespace terminalstop {

// Exit statuses, one per outcome.
enum ExitStatus : int {
    stopped = 0,
    failed = 1,
    usage = 2,
    noListener = 3,
    notAuthorized = 4,
    unavailable = 5,
    cancelled = 6,
};

// What listens on the port: the users that own its listening sockets, and the processes of this
// user that hold those of this user.
struct PortListeners {
    struct OwnProcess {
        qint32 pid = 0;
        quint64 startTime = 0;
        QString name;
    };
    QList<quint32> owners;
    QList<OwnProcess> ownProcesses;
};

struct Services {
    // Absent when the kernel's socket tables cannot be read.
    std::function<std::optional<PortListeners>(int port, quint32 ownUid)> findListeners;
    ProcessKilling *killer = nullptr;               // for this user's own processes
    AdministratorStopping *administrator = nullptr; // for the rest: pkexec, or in-process as root
    quint32 ownUid = 0;
    bool isRoot = false;
    // A port that a systemd unit holds, as this listing shows it, is freed by stopping the unit
    // through its manager instead: a signalled process of the unit would be started again.
    PortListing *listing = nullptr;
    ServiceStopping *serviceStopper = nullptr;
};

// Checks the port as the helper does and stops its listeners: this user's own processes with the
// killer, each checked by its start time, and only what this user cannot signal as administrator
// (everything, in-process, when run as root). Says what it stopped on standard output, one line a
// process, and what failed on standard error.
QCoro::Task<int> run(QString portArgument, Services services, std::FILE *out, std::FILE *err);

// The kernel's view of the port.
std::optional<PortListeners> findListeners(int port, quint32 ownUid);

// Runs the above over the default services on the application's event loop; returns the exit status.
int runOnEventLoop(const QString &portArgument);

} // namespace terminalstop
} // namespace quaystone
