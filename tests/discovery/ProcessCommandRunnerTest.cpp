#include "discovery/ProcessCommandRunner.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>

using namespace quaystone;
using quaystone::test::awaitTask;
using namespace std::chrono_literals;

namespace {

QByteArray numberLines(int first, int last) {
    QByteArray out;
    for (int i = first; i <= last; ++i)
        out += QByteArray::number(i) + '\n';
    return out;
}

// Open pipes of this process. (Worker threads, started on first use, add event descriptors of their own.)
qsizetype openPipes() {
    const QDir fds(QStringLiteral("/proc/self/fd"));
    qsizetype pipes = 0;
    for (const QString &fd : fds.entryList(QDir::NoDotAndDotDot | QDir::AllEntries))
        pipes += QFile::symLinkTarget(fds.filePath(fd)).contains(QStringLiteral("pipe:"));
    return pipes;
}

// Gone for good: not running, and not left as a zombie, which signal 0 would still reach.
bool reaped(qint64 pid) {
    return ::kill(pid_t(pid), 0) == -1 && errno == ESRCH;
}

void writeFile(const QString &path, const QByteArray &content, QFileDevice::Permissions permissions) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    file.setPermissions(permissions);
}

TEST(ProcessCommandRunner, RunsTheChildToItsEndAndKeepsAllItPrinted) {
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const QString flag = directory.filePath("flag");
    const QString plain = directory.filePath("plain");
    writeFile(plain, "#!/bin/sh\n", QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QString orphanScript = directory.filePath("orphan");
    writeFile(orphanScript, "#!/nonexistent/interpreter\n", QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    QTimer::singleShot(0, [&] { QFile(flag).open(QIODevice::WriteOnly); });
    const QString sh = QStringLiteral("/bin/sh");
    const struct {
        const char *name;
        QString program;
        QString script;
        CommandRunResult expected;
    } cases[] = {
        {"the event loop stays free: only its timer makes the flag", sh,
         "while [ ! -e '" + flag + "' ]; do sleep 0.01; done", CommandResult{}},
        {"status 1 is a result, not an error", sh, "echo out; echo err >&2; exit 1",
         CommandResult{1, "out\n", "err\n"}},
        // Far more than a pipe holds, on both streams at once: completes only if both are drained.
        {"hundreds of kilobytes", sh, "seq 1 60000; echo one >&2; seq 1 30000 >&2; seq 60001 120000; echo two >&2",
         CommandResult{0, numberLines(1, 120000), "one\n" + numberLines(1, 30000) + "two\n"}},
        {"megabytes, joined on a worker thread", sh, "seq 1 400000; seq 1 1000 >&2",
         CommandResult{0, numberLines(1, 400000), numberLines(1, 1000)}},
        {"bytes that are not UTF-8", sh, R"(printf '\377\200ok\000\n'; printf '\376' >&2)",
         CommandResult{0, QByteArray("\xff\x80ok\0\n", 6), "\xfe"}},
        {"ended by SIGTERM, reported as shells do", sh, "kill -TERM $$", CommandResult{128 + 15, {}, {}}},
        // Waiting for the end of the pipes instead would run into the time limit.
        {"a background grandchild keeps the pipes open", sh,
         "sleep 30 & echo $! > '" + directory.filePath("grandchild") + "'; echo done", CommandResult{0, "done\n", {}}},
        {"a missing program", "/nonexistent/quaystone-missing", "", CommandRunnerError::programMissing},
        {"no program", "", "", CommandRunnerError::programMissing},
        // The current directory holds no "sh": PATH is never searched.
        {"a bare name", "sh", "exit 0", CommandRunnerError::programMissing},
        {"a file without execute permission", plain, "", CommandRunnerError::notExecutable},
        {"a directory", directory.path(), "", CommandRunnerError::notExecutable},
        {"an executable whose interpreter is missing", orphanScript, "", CommandRunnerError::launchFailed},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const qsizetype pipes = openPipes();
        ProcessCommandRunner runner;
        const CommandRunResult result = awaitTask(runner.run(c.program, {QStringLiteral("-c"), c.script}, 20s));
        // Compared whole rather than printed: a mismatch would dump hundreds of kilobytes.
        EXPECT_TRUE(result == c.expected) << "status " << (result ? result.value().terminationStatus : -1) << ", error "
                                          << (result ? -1 : int(result.error()));
        // Qt 6.4 leaks a pipe on a start that fails; the runner avoids the starts it can.
        if (c.expected.hasValue() || c.expected.error() != CommandRunnerError::launchFailed) {
            EXPECT_EQ(openPipes(), pipes) << "the pipes are closed";
        }
    }
    QFile grandchild(directory.filePath("grandchild"));
    if (grandchild.open(QIODevice::ReadOnly))
        ::kill(pid_t(grandchild.readAll().trimmed().toLongLong()), SIGKILL);
}

// Children that never finish: killed at the time limit, reaped, their pipes closed; the runner then
// runs the next child as usual.
TEST(ProcessCommandRunner, KillsAndReapsAChildAtItsTimeLimit) {
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const QString pidFile = directory.filePath("pid");
    const struct {
        const char *name;
        QString script;
    } cases[] = {
        {"sleeps past the limit", "echo $$ > '" + pidFile + "'; exec sleep 30"},
        {"writes part of its output, then hangs", "echo $$ > '" + pidFile + "'; seq 1 5000; echo half >&2; sleep 30"},
        {"ignores SIGTERM", "trap '' TERM; echo $$ > '" + pidFile + "'; while :; do sleep 1; done"},
    };
    ProcessCommandRunner runner;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(pidFile);
        const qsizetype pipes = openPipes();
        const CommandRunResult result = awaitTask(runner.run("/bin/sh", {QStringLiteral("-c"), c.script}, 300ms));
        ASSERT_FALSE(result.hasValue());
        EXPECT_EQ(result.error(), CommandRunnerError::timedOut);
        EXPECT_EQ(openPipes(), pipes) << "the pipes are closed";
        EXPECT_EQ(runner.runningCount(), 0);
        QFile file(pidFile);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(reaped(file.readAll().trimmed().toLongLong()));

        const CommandRunResult next = awaitTask(runner.run("/bin/sh", {QStringLiteral("-c"), "echo next"}, 20s));
        EXPECT_TRUE(next == CommandRunResult(CommandResult{0, "next\n", {}}));
    }
}

} // namespace
