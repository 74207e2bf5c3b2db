#include "ProcessCommandRunner.h"

#include <QProcess>
#include <qcoro/qcorosignal.h>

namespace quaystone {

namespace {

// QProcess looks a bare name up in PATH; anchoring it to the current directory keeps it a path.
QString explicitPath(const QString &path) {
    return path.contains(u'/') ? path : QStringLiteral("./") + path;
}

} // namespace

QCoro::Task<CommandRunResult> ProcessCommandRunner::run(QString executablePath, QStringList arguments) {
    if (executablePath.isEmpty())
        co_return CommandRunnerError::launchFailed;

    QProcess process;
    process.setProgram(explicitPath(executablePath));
    process.setArguments(arguments);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
    process.start(QIODevice::ReadOnly);

    // A failed start emits no finished(), only errorOccurred(FailedToStart) on the way back to
    // NotRunning, so the state is what is waited on. The signal arrives queued, after QProcess has
    // read the last output and emitted finished(), so the process may be destroyed once we resume.
    // Meanwhile QProcess reads both pipes into unbounded buffers whenever they have data.
    while (process.state() != QProcess::NotRunning)
        co_await qCoro(&process, &QProcess::stateChanged);

    if (process.error() == QProcess::FailedToStart)
        co_return CommandRunnerError::launchFailed;

    CommandResult result;
    result.terminationStatus =
        process.exitStatus() == QProcess::CrashExit ? 128 + process.exitCode() : process.exitCode();
    result.standardOutput = process.readAllStandardOutput();
    result.standardError = process.readAllStandardError();
    co_return result;
}

} // namespace quaystone
