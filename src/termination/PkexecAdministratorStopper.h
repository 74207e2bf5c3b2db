#pragma once

#include "discovery/CommandRunning.h"
#include "model/AdministratorStopping.h"

#include <QString>

#include <memory>

namespace quaystone {

// Runs the stop-port helper as root through pkexec, under the app's polkit action, and reads
// the outcome from the exit status. Without a graphical authentication agent, pkexec asks on
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

    QCoro::Task<AdministratorStopOutcome> stop(qint64 port) override;

    static AdministratorStopOutcome outcomeFor(const CommandResult &result);

private:
    std::unique_ptr<CommandRunning> m_runner;
    QString m_pkexecPath;
    QString m_helperPath;
};

} // namespace quaystone
