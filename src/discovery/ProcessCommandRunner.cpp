#include "ProcessCommandRunner.h"

#include <QProcess>

#include <coroutine>

namespace quaystone {

namespace {

// QProcess looks a bare name up in PATH; anchoring it to the current directory keeps it a path.
QString explicitPath(const QString &path) {
    return path.contains(u'/') ? path : QStringLiteral("./") + path;
}

// Suspends until the process is no longer running, however it got there: a start that fails emits no
// finished(), only stateChanged() and errorOccurred(). (QCoro's waitForStarted with no time limit would
// never resume then, and its signal awaiter cannot take stateChanged, whose private tag argument it
// passes on as a null reference.) Resumes from the event loop, once QProcess has read the last output
// and emitted all it emits, so that the process may be destroyed right after.
class Stopped {
public:
    explicit Stopped(QProcess &process)
        : m_process(process) {}
    // A coroutine destroyed while suspended here must leave no slot behind that points into its frame.
    ~Stopped() { QObject::disconnect(m_connection); }

    bool await_ready() const noexcept { return m_process.state() == QProcess::NotRunning; }

    void await_suspend(std::coroutine_handle<> awaiting) {
        m_connection = QObject::connect(&m_process, &QProcess::stateChanged, &m_process,
                                        [this, awaiting](QProcess::ProcessState state) {
                                            if (state != QProcess::NotRunning)
                                                return;
                                            QObject::disconnect(m_connection);
                                            QMetaObject::invokeMethod(
                                                &m_process, [awaiting] { awaiting.resume(); }, Qt::QueuedConnection);
                                        });
    }

    void await_resume() const noexcept {}

private:
    QProcess &m_process;
    QMetaObject::Connection m_connection;
};

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

    // While the child runs, QProcess drains both pipes into unbounded buffers from the event loop.
    co_await Stopped(process);

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
