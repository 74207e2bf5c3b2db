#include "discovery/ProcessCommandRunner.h"

#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using namespace quaystone;
using quaystone::test::awaitTask;

namespace {

const QString shell = QStringLiteral("/bin/sh");

CommandRunResult runShell(const QString &script, const QStringList &arguments = {}) {
    ProcessCommandRunner runner;
    return awaitTask(runner.run(shell, QStringList{"-c", script, "sh"} + arguments));
}

QByteArray numberLines(int first, int last) {
    QByteArray out;
    for (int i = first; i <= last; ++i)
        out += QByteArray::number(i) + '\n';
    return out;
}

TEST(ProcessCommandRunner, ReturnsStatusAndBothStreamsUnchanged) {
    struct Case {
        const char *name;
        QString script;
        QStringList arguments;
        CommandResult expected;
    };
    const QList<Case> cases = {
        {"silent success", "exit 0", {}, {0, {}, {}}},
        {"status 1 is a result, not an error", "exit 1", {}, {1, {}, {}}},
        {"status 255", "echo out; echo err >&2; exit 255", {}, {255, "out\n", "err\n"}},
        // Far more than a pipe holds on both streams, interleaved: only completes if both are drained.
        {"hundreds of kilobytes on both streams",
         "seq 1 60000; echo warning one >&2; seq 1 30000 >&2; seq 60001 120000; echo warning two >&2",
         {},
         {0, numberLines(1, 120000), "warning one\n" + numberLines(1, 30000) + "warning two\n"}},
        {"bytes that are not text",
         R"(printf '\377\200ok\000\n'; printf '\376' >&2)",
         {},
         {0, QByteArray("\xff\x80ok\0\n", 6), "\xfe"}},
        {"arguments passed as they are, without a shell in between",
         R"(printf '%s|' "$@")",
         {"a b", "", "*", "$HOME", "-n"},
         {0, "a b||*|$HOME|-n|", {}}},
        // A signal is not an exit code; shells report it as 128 + the signal number.
        {"ended by SIGTERM", "kill -TERM $$", {}, {128 + 15, {}, {}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const CommandRunResult result = runShell(c.script, c.arguments);
        ASSERT_TRUE(result.hasValue());
        EXPECT_EQ(result.value().terminationStatus, c.expected.terminationStatus);
        EXPECT_EQ(result.value().standardOutput.size(), c.expected.standardOutput.size());
        EXPECT_TRUE(result.value().standardOutput == c.expected.standardOutput);
        EXPECT_TRUE(result.value().standardError == c.expected.standardError);
    }
}

TEST(ProcessCommandRunner, FailsToLaunchWhatIsNoProgram) {
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const QString plainFile = directory.filePath("plain");
    QFile file(plainFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\necho ran\n");
    file.close();
    ASSERT_TRUE(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner));

    const QStringList paths = {directory.filePath("missing"), plainFile, directory.path(), QString()};
    ProcessCommandRunner runner;
    for (const QString &path : paths) {
        SCOPED_TRACE(path.toStdString());
        const CommandRunResult result = awaitTask(runner.run(path, {}));
        ASSERT_FALSE(result.hasValue());
        EXPECT_EQ(result.error(), CommandRunnerError::launchFailed);
    }
}

// A bare name is a file in the current directory; PATH is never searched.
TEST(ProcessCommandRunner, TakesABareNameAsAFileInTheCurrentDirectory) {
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    QFile tool(directory.filePath("tool"));
    ASSERT_TRUE(tool.open(QIODevice::WriteOnly));
    tool.write("#!/bin/sh\necho ran\n");
    tool.close();
    ASSERT_TRUE(tool.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(directory.path()));
    ProcessCommandRunner runner;
    const CommandRunResult local = awaitTask(runner.run("tool", {}));
    const CommandRunResult inPath = awaitTask(runner.run("sh", {"-c", "exit 0"}));
    QDir::setCurrent(previous);

    ASSERT_TRUE(local.hasValue());
    EXPECT_EQ(local.value().standardOutput, "ran\n");
    ASSERT_FALSE(inPath.hasValue()) << "sh is in PATH but not in the current directory";
    EXPECT_EQ(inPath.error(), CommandRunnerError::launchFailed);
}

// The children wait for files that only the event loop (a timer) and each other create, so these runs
// finish only if awaiting a child leaves the event loop free and runs do not wait for one another.
TEST(ProcessCommandRunner, LeavesTheEventLoopFreeWhileChildrenRun) {
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const QString fromTimer = directory.filePath("timer"), fromA = directory.filePath("a"),
                  fromB = directory.filePath("b");
    const QString waitFor = R"(touch "$1"; while [ ! -e "$2" ]; do sleep 0.01; done; echo "$3")";

    ProcessCommandRunner runner;
    auto a = runner.run(shell, {"-c", waitFor, "sh", fromA, fromB, "a"});
    auto b = runner.run(shell, {"-c", waitFor, "sh", fromB, fromTimer, "b"});
    QTimer::singleShot(0, [&] {
        QFile file(fromTimer);
        file.open(QIODevice::WriteOnly);
    });
    const CommandRunResult resultA = awaitTask(std::move(a));
    const CommandRunResult resultB = awaitTask(std::move(b));
    ASSERT_TRUE(resultA.hasValue());
    ASSERT_TRUE(resultB.hasValue());
    EXPECT_EQ(resultA.value().standardOutput, "a\n");
    EXPECT_EQ(resultB.value().standardOutput, "b\n");
}

} // namespace
