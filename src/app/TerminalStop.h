#pragma once

#include <QString>
#include <qcoro/qcorotask.h>

#include <cstdio>

namespace quaystone {

class AdministratorStopping;
class PortListing;
class ServiceStopping;

// `quaystone --stop PORT`: the popup's stop as administrator, from a terminal without a display.
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

// Checks the port as the helper does, stops its listeners through the stopper and says what
// happened: on standard output when the port is free, else on standard error. A port that a
// systemd unit holds, as the listing shows it, is freed by stopping the unit instead.
QCoro::Task<int> run(QString portArgument, AdministratorStopping &stopper, std::FILE *out, std::FILE *err,
                     PortListing *listing = nullptr, ServiceStopping *serviceStopper = nullptr);

// Runs the above over the default stopper on the application's event loop; returns the exit status.
int runOnEventLoop(const QString &portArgument);

} // namespace terminalstop
} // namespace quaystone
