#include "discovery/ProcessWorkingDirectoryResolver.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <climits>
#include <memory>

#include <unistd.h>

using namespace quaystone;

namespace {

ProcessDetails resolve(qint32 pid) {
    ProcessWorkingDirectoryResolver resolver;
    return QCoro::waitFor(resolver.resolve(pid));
}

TEST(ProcessWorkingDirectoryResolver, GivesTheWorkingDirectoryOfALiveProcessOnly) {
    QTemporaryDir base;
    // Longer than a first small buffer would hold.
    const QString name = QStringLiteral("d\u00efr with spaces ") + QString(150, u'x');
    const QString deep = QDir(base.path()).canonicalPath() + u'/' + name + u'/' + name;
    ASSERT_TRUE(base.isValid() && QDir().mkpath(deep));
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(deep));
    const ProcessDetails own = resolve(qint32(QCoreApplication::applicationPid()));
    QDir::setCurrent(previous);
    EXPECT_EQ(own.workingDirectory, deep);
    EXPECT_FALSE(own.workingDirectoryDeleted);
    EXPECT_EQ(own.uid, quint32(::geteuid()));

    for (const qint32 pid : {INT_MAX, 0, -1})
        EXPECT_EQ(resolve(pid), ProcessDetails{}) << pid;
}

// QProcess learns of the exec when the kernel closes the child's close-on-exec pipe, which it does
// before it lays out the new program's arguments: waits until they are there.
bool startedWithArguments(QProcess &child, const QByteArray &argument) {
    if (!child.waitForStarted())
        return false;
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(child.processId()));
    for (QDeadlineTimer deadline(5000); !deadline.hasExpired(); QThread::msleep(1)) {
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(argument))
            return true;
        cmdline.close();
    }
    return false;
}

// Field 22 of /proc/<pid>/stat, counted from the last ')' as the kernel's own format requires.
std::optional<quint64> startTimeOf(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2).split(' ').value(22 - 3).toULongLong();
}

TEST(ProcessWorkingDirectoryResolver, ReadsRealNamesCommandLinesAndRemovedDirectories) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString base = QDir(dir.path()).canonicalPath();
    struct Case {
        QString program;   // a copy of sh under this file name, whose first 15 bytes the kernel keeps
        QString directory; // the child's working directory, below base
        bool removeDirectory;
        QString name;
        bool deleted;
    };
    const Case cases[] = {
        // 18 bytes, cut by the kernel inside "ы": the program's whole name is in its command line.
        {QStringLiteral("серверный-dev"), "gone", true, QStringLiteral("серверный-dev"), true},
        // A name with ") " would throw off a reader that counts stat's fields from the first ')'.
        {"a) R 1 (b", "app (deleted)", false, "a) R 1 (b", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.program.toStdString());
        const QString program = base + u'/' + c.program;
        const QString directory = base + u'/' + c.directory;
        ASSERT_TRUE(QFile::copy("/bin/sh", program) && QDir().mkpath(directory));
        QProcess child;
        child.setWorkingDirectory(directory);
        child.start(program, {"-c", "read line", "arg with spaces", "two\nlines", QStringLiteral("\u202Eevil")});
        ASSERT_TRUE(startedWithArguments(child, "arg with spaces"));
        if (c.removeDirectory) {
            ASSERT_TRUE(QDir().rmdir(directory));
        }

        const ProcessDetails details = resolve(qint32(child.processId()));
        child.closeWriteChannel();
        EXPECT_EQ(details.name, c.name);
        EXPECT_EQ(details.commandLine, program + " -c read line arg with spaces two\nlines \u202Eevil");
        EXPECT_EQ(details.workingDirectory, directory) << "without the kernel's mark";
        EXPECT_EQ(details.workingDirectoryDeleted, c.deleted);
        EXPECT_EQ(details.uid, quint32(::geteuid()));
        EXPECT_EQ(details.startTime, startTimeOf(child.processId()));
        EXPECT_GE(details.startTime.value_or(0), resolve(qint32(QCoreApplication::applicationPid())).startTime);
        EXPECT_TRUE(child.waitForFinished());
    }
}

TEST(ProcessWorkingDirectoryResolver, DecodesANameSetByTheProcessAndNeverTakesAnotherFromItsCommandLine) {
    const QString python = QStandardPaths::findExecutable("python3", {"/usr/bin", "/bin"});
    if (python.isEmpty())
        GTEST_SKIP() << "no python3 to rename itself";
    const struct {
        const char *setName;
        QString name;
    } cases[] = {
        // Kept raw: the views escape the control character when they show it.
        {"b'bad\\xffname\\x1b'", QStringLiteral("bad\uFFFDname\x1b")},
        // Cut inside "ы", which is dropped rather than shown as U+FFFD; the command line names python3.
        {"'серверный-dev'.encode()", QStringLiteral("серверн")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.setName);
        // PR_SET_NAME (15), as any process may choose.
        QProcess child;
        child.start(python, {"-c", QStringLiteral("import ctypes, sys\n"
                                                  "ctypes.CDLL(None).prctl(15, %1, 0, 0, 0)\n"
                                                  "print(flush=True)\n"
                                                  "sys.stdin.read()")
                                       .arg(QString::fromUtf8(c.setName))});
        ASSERT_TRUE(child.waitForReadyRead(10000));
        const ProcessDetails details = resolve(qint32(child.processId()));
        child.closeWriteChannel();
        EXPECT_EQ(details.name, c.name);
        EXPECT_TRUE(child.waitForFinished());
    }
}

TEST(ProcessWorkingDirectoryResolver, CutsALongCommandLineAtFourKibibytes) {
    const QString tail = QString(3000, u'y') + QStringLiteral("ж"); // "ж" straddles the 4096th byte
    QProcess child;
    child.start("/bin/sh", {"-c", "read line", QString(1073, u'x'), tail});
    ASSERT_TRUE(startedWithArguments(child, "read line"));
    const std::optional<QString> commandLine = resolve(qint32(child.processId())).commandLine;
    child.closeWriteChannel();
    ASSERT_TRUE(commandLine);
    const QString kept = QStringLiteral("/bin/sh -c read line ") + QString(1073, u'x') + u' ' + QString(3000, u'y');
    EXPECT_EQ(kept.toUtf8().size(), ProcessWorkingDirectoryResolver::commandLineLimit - 1);
    EXPECT_EQ(*commandLine, kept + QChar(0x2026));
    EXPECT_TRUE(child.waitForFinished());
}

} // namespace
