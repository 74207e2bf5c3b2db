#include "ProcessCommandRunner.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <qcoro/qcorofuture.h>

#include <coroutine>
#include <optional>

#include <csignal>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quaystone {

namespace {

// How long a killed child may take to be reaped when the application quits or the runner goes.
constexpr int reapWaitMs = 5000;

// Output beyond this is joined on a worker thread; below it, the thread hop costs more than the copy.
constexpr qsizetype joinOnWorkerBytes = 1 << 20;

qsizetype totalSize(const QList<QByteArray> &chunks) {
    qsizetype size = 0;
    for (const QByteArray &chunk : chunks)
        size += chunk.size();
    return size;
}

QByteArray joined(const QList<QByteArray> &chunks) {
    if (chunks.size() == 1)
        return chunks.first();
    QByteArray whole;
    whole.reserve(totalSize(chunks));
    for (const QByteArray &chunk : chunks)
        whole.append(chunk);
    return whole;
}

// QProcess looks a bare name up in PATH; anchoring it to the current directory keeps it a path.
QString explicitPath(const QString &path) {
    return path.contains(u'/') ? path : QStringLiteral("./") + path;
}

// Why the file at path cannot be run, when the file itself tells: QProcess reports every failed start
// alike. Anything else (a missing interpreter, no resources) shows only when the start fails.
std::optional<CommandRunnerError> unrunnable(const QString &path) {
    const QByteArray file = QFile::encodeName(path);
    struct stat status {};
    if (::stat(file.constData(), &status) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return CommandRunnerError::programMissing;
        return std::nullopt;
    }
    if (S_ISDIR(status.st_mode) || ::access(file.constData(), X_OK) != 0)
        return CommandRunnerError::notExecutable;
    return std::nullopt;
}

// Suspends until the process is no longer running, however it got there: a start that fails emits no
// finished(), only stateChanged() and errorOccurred(). (QCoro's waitForStarted with no time limit would
// never resume then, and its signal awaiter cannot take stateChanged, whose private tag argument it
// passes on as a null reference.) Resumes through an event posted to `context`, once QProcess has read
// the last output and emitted all it emits, so that the process may be destroyed right after.
class Stopped {
public:
    Stopped(QProcess &process, QObject &context)
        : m_process(process)
        , m_context(context) {}
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
                                                &m_context, [awaiting] { awaiting.resume(); }, Qt::QueuedConnection);
                                        });
    }

    void await_resume() const noexcept {}

private:
    QProcess &m_process;
    QObject &m_context;
    QMetaObject::Connection m_connection;
};

} // namespace

// One running child, known to the runner for as long as its run lasts.
struct ProcessCommandRunner::Child {
    explicit Child(ProcessCommandRunner *owner)
        : owner(owner) {
        owner->m_running.insert(this);
    }
    ~Child() {
        if (owner)
            owner->m_running.remove(this);
    }
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    ProcessCommandRunner *owner;
    QProcess process;
    bool timedOut = false;
    bool interrupted = false;
};

ProcessCommandRunner::ProcessCommandRunner(QObject *parent)
    : QObject(parent) {
    if (QCoreApplication *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &ProcessCommandRunner::stopAll);
}

ProcessCommandRunner::~ProcessCommandRunner() {
    // The awaiting coroutines belong to owners that are going away themselves: they are not resumed.
    for (Child *child : std::as_const(m_running)) {
        child->owner = nullptr;
        child->process.disconnect();
        child->process.kill();
        child->process.waitForFinished(reapWaitMs);
    }
}

void ProcessCommandRunner::stopAll() {
    m_stopped = true;
    const QList<Child *> children(m_running.cbegin(), m_running.cend());
    for (Child *child : children) {
        child->interrupted = true;
        child->process.kill();
    }
    // The event loop may have ended already: reap here, then deliver the resumptions at once, so that
    // each run completes and its awaiting coroutines finish rather than stay suspended for good.
    for (Child *child : children)
        child->process.waitForFinished(reapWaitMs);
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

QCoro::Task<CommandRunResult> ProcessCommandRunner::run(QString executablePath, QStringList arguments,
                                                        std::chrono::milliseconds timeLimit) {
    if (m_stopped)
        co_return CommandRunnerError::interrupted;
    if (executablePath.isEmpty())
        co_return CommandRunnerError::programMissing;

    const QString program = explicitPath(executablePath);
    // Qt 6.4 leaks a pipe on every start that fails, so the usual reasons are found without starting.
    if (const std::optional<CommandRunnerError> refusal = unrunnable(program))
        co_return *refusal;

    Child child(this);
    QProcess &process = child.process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
    // Should the application die without quitting, the kernel kills the child with it. The parent may
    // have died before the request took hold; then the child ends itself.
    process.setChildProcessModifier([parent = ::getpid()] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
    });
    // Taken as it arrives, a pipe's worth at a time, and joined at the end: reading tens of megabytes out
    // of QProcess's buffer at once, or growing one array by copying, would hold the event loop.
    QList<QByteArray> standardOutput;
    QList<QByteArray> standardError;
    connect(&process, &QProcess::readyReadStandardOutput, &process,
            [&] { standardOutput.append(process.readAllStandardOutput()); });
    connect(&process, &QProcess::readyReadStandardError, &process,
            [&] { standardError.append(process.readAllStandardError()); });
    process.start(QIODevice::ReadOnly);

    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &process, [&child] {
        child.timedOut = true;
        child.process.kill();
    });
    if (process.state() != QProcess::NotRunning)
        deadline.start(timeLimit);

    // While the child runs, QProcess drains both pipes into unbounded buffers from the event loop.
    co_await Stopped(process, *this);

    if (process.error() == QProcess::FailedToStart && !child.timedOut && !child.interrupted)
        co_return unrunnable(program).value_or(CommandRunnerError::launchFailed);
    if (child.interrupted)
        co_return CommandRunnerError::interrupted;
    if (child.timedOut)
        co_return CommandRunnerError::timedOut;

    CommandResult result;
    result.terminationStatus =
        process.exitStatus() == QProcess::CrashExit ? 128 + process.exitCode() : process.exitCode();
    standardOutput.append(process.readAllStandardOutput());
    standardError.append(process.readAllStandardError());
    if (totalSize(standardOutput) + totalSize(standardError) < joinOnWorkerBytes) {
        result.standardOutput = joined(standardOutput);
        result.standardError = joined(standardError);
        co_return result;
    }
    QFuture<CommandResult> joining = QtConcurrent::run(
        [result = std::move(result), out = std::move(standardOutput), err = std::move(standardError)]() mutable {
            result.standardOutput = joined(out);
            result.standardError = joined(err);
            return std::move(result);
        });
    co_await joining;
    // Taken rather than copied out of the future, whose last reference would free the bytes here.
    co_return joining.takeResult();
}

} // namespace quaystone
