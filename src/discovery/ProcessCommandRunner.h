#pragma once

#include "discovery/CommandRunning.h"

namespace quaystone {

// Runs a program as a child process through QProcess, awaited on the caller's event loop, which keeps
// serving events (and draining both pipes) while the child runs. There is no time limit.
//
// A path without a slash names that file in the current directory: QProcess would search PATH for it.
// A child ended by signal N reports the status 128 + N, as shells do.
class ProcessCommandRunner final : public CommandRunning {
public:
    QCoro::Task<CommandRunResult> run(QString executablePath, QStringList arguments) override;
};

} // namespace quaystone
