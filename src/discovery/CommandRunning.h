#pragma once

#include "model/Result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <qcoro/qcorotask.h>

namespace quaystone {

// A finished child process: its status and every byte of both streams, unchanged.
struct CommandResult {
    qint32 terminationStatus = 0;
    QByteArray standardOutput;
    QByteArray standardError;

    friend bool operator==(const CommandResult &, const CommandResult &) = default;
};

// The child could not be started; the platform's reason is not kept.
enum class CommandRunnerError { launchFailed };

using CommandRunResult = Result<CommandResult, CommandRunnerError>;

class CommandRunning {
public:
    virtual ~CommandRunning() = default;

    // Runs executablePath (taken as a path, never searched for) with the arguments and
    // completes once the child has exited and both of its streams are at end of file.
    virtual QCoro::Task<CommandRunResult> run(QString executablePath, QStringList arguments) = 0;
};

} // namespace quaystone
