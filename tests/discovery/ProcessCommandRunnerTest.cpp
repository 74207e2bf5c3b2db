#include "discovery/ProcessCommandRunner.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using namespace quaystone;
using quaystone::test::awaitTask;

namespace {

QByteArray numberLines(int first, int last) {
    QByteArray out;
    for (int i = first; i <= last; ++i)
        out += QByteArray::number(i) + '\n';
    return out;
}

TEST(ProcessCommandRunner, RunsTheChildToItsEndAndKeepsAllItPrinted) {
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const QString flag = directory.filePath("flag");
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
        {"bytes that are not UTF-8", sh, R"(printf '\377\200ok\000\n'; printf '\376' >&2)",
         CommandResult{0, QByteArray("\xff\x80ok\0\n", 6), "\xfe"}},
        {"ended by SIGTERM, reported as shells do", sh, "kill -TERM $$", CommandResult{128 + 15, {}, {}}},
        {"a missing program", "/nonexistent/quaystone-missing", "", CommandRunnerError::launchFailed},
        {"no program", "", "", CommandRunnerError::launchFailed},
        // The current directory holds no "sh": PATH is never searched.
        {"a bare name", "sh", "exit 0", CommandRunnerError::launchFailed},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ProcessCommandRunner runner;
        const CommandRunResult result = awaitTask(runner.run(c.program, {QStringLiteral("-c"), c.script}));
        // Compared whole rather than printed: a mismatch would dump hundreds of kilobytes.
        EXPECT_TRUE(result == c.expected) << "status " << (result ? result.value().terminationStatus : -1);
    }
}

} // namespace
