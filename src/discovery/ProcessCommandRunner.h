#pragma once

#include "discovery/CommandRunning.h"

#include <QObject>
#include <QSet>

namespace quaystone {

// Runs a program as a child process through QProcess, awaited on the caller's event loop, which keeps
// serving events (and draining both pipes) while the child runs.
//
// A run ends when the child exits, even if a grandchild it left behind still holds the pipes open:
// whatever reached the pipes by then is the output. A path without a slash names that file in the
// current directory: QProcess would search PATH for it. A child ended by signal N reports the status
// 128 + N, as shells do.
//
// No child outlives the application: when it is about to quit, every running child is killed and
// reaped and its run completes as interrupted; a child is also killed should the application die
// without quitting. Destroying the runner kills and reaps its children too, but their runs then never
// complete, so owners destroy it only once its runs are over or the application is quitting.
class ProcessCommandRunner final : public QObject, public CommandRunning {
    Q_OBJECT

public:
    explicit ProcessCommandRunner(QObject *parent = nullptr);
    ~ProcessCommandRunner() override;

    QCoro::Task<CommandRunResult> run(QString executablePath, QStringList arguments,
                                      std::chrono::milliseconds timeLimit) override;

    // Kills and reaps every running child, completes its run as interrupted, and fails every later
    // run at once the same way. Runs on QCoreApplication::aboutToQuit.
    void stopAll();

    qsizetype runningCount() const { return m_running.size(); }

private:
    struct Child;
    friend struct Child;

    QSet<Child *> m_running;
    bool m_stopped = false;
};

} // namespace quaystone
