#pragma once

#include "model/Result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <qcoro/qcorotask.h>

#include <chrono>

namespace quaystone {

// A finished child process: its status and every byte of both streams, unchanged.
struct CommandResult {
    qint32 terminationStatus = 0;
    QByteArray standardOutput;
    QByteArray standardError;

    friend bool operator==(const CommandResult &, const CommandResult &) = default;
};

// Why a run produced no result. The platform's own detail is not kept.
enum class CommandRunnerError {
    launchFailed,   // could not be started for a reason not below
    programMissing, // nothing at the path
    notExecutable,  // something is there but may not be run
    timedOut,       // ran past its time limit and was killed
    interrupted,    // the application quit while it ran, and it was killed
};

using CommandRunResult = Result<CommandResult, CommandRunnerError>;

class CommandRunning {
public:
    virtual ~CommandRunning() = default;

    // Runs executablePath (taken as a path, never searched for) with the arguments and
    // completes once the child has exited. A child still running after timeLimit is killed
    // and reaped, and the run fails with timedOut.
    virtual QCoro::Task<CommandRunResult> run(QString executablePath, QStringList arguments,
                                              std::chrono::milliseconds timeLimit) = 0;
};

} // namespace quaystone
