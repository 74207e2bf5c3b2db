#pragma once

#include "discovery/CommandRunning.h"
#include "model/AdministratorStopping.h"

#include <QString>

#include <memory>

namespace quaystone {

namespace kernel {
struct StoppedProcess;
}

// Runs the stop-port helper as root through pkexec, under the app's polkit action, with the port
// and the uid of the row, and reads the outcome from the exit status and the processes from its
// lines. Without a graphical authentication agent, pkexec asks on
// the controlling terminal, if there is one.
class PkexecAdministratorStopper final : public AdministratorStopping {
public:
    PkexecAdministratorStopper(std::unique_ptr<CommandRunning> runner, QString pkexecPath, QString helperPath);
    ~PkexecAdministratorStopper() override;

    // Over the configured pkexec and the installed helper. In a build with tests,
    // QUAYSTONE_STOP_PORT_HELPER names another helper, for tests of a build that is not
    // installed; pkexec then authorizes that path, which the app's action does not cover unless
    // a test installs one that does.
    static std::unique_ptr<PkexecAdministratorStopper> makeDefault();

    QCoro::Task<AdministratorStopResult> stop(qint64 port, quint32 uid) override;

    static AdministratorStopOutcome outcomeFor(const CommandResult &result);
    // The processes the helper reports, one a line; other lines are skipped.
    static QList<AdministratorStoppedProcess> processesIn(const QByteArray &helperOutput);
    static AdministratorStoppedProcess fromKernel(const kernel::StoppedProcess &process);

private:
    std::unique_ptr<CommandRunning> m_runner;
    QString m_pkexecPath;
    QString m_helperPath;
};

} // namespace quaystone
