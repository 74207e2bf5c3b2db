#include "discovery/ProcessWorkingDirectoryResolver.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <climits>
#include <sys/wait.h>
#include <unistd.h>

using namespace quaystone;

namespace {

std::optional<QString> resolve(qint32 pid) {
    ProcessWorkingDirectoryResolver resolver;
    return QCoro::waitFor(resolver.resolve(pid));
}

qint32 ownPid() {
    return static_cast<qint32>(QCoreApplication::applicationPid());
}

// Changes this process's working directory for the life of the object.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const QString &path)
        : m_previous(QDir::currentPath()) {
        m_changed = QDir::setCurrent(path);
    }
    ~CurrentDirectory() { QDir::setCurrent(m_previous); }
    bool changed() const { return m_changed; }

private:
    QString m_previous;
    bool m_changed = false;
};

TEST(ProcessWorkingDirectoryResolver, GivesTheTargetOfALiveProcessesCwdLink) {
    QTemporaryDir base;
    ASSERT_TRUE(base.isValid());
    // Longer than the first buffer the link is read into, with spaces and non-ASCII letters.
    QString deep = QDir(base.path()).canonicalPath();
    for (int i = 0; i < 12; ++i)
        deep += QStringLiteral("/d\u00efrectory with spaces %1 ").arg(i) + QString(40, u'x');
    ASSERT_TRUE(QDir().mkpath(deep));

    for (const QString &path : {QDir::currentPath(), deep}) {
        SCOPED_TRACE(path.size());
        CurrentDirectory current(path);
        ASSERT_TRUE(current.changed());
        EXPECT_EQ(resolve(ownPid()), QDir::currentPath());
        EXPECT_EQ(resolve(ownPid()), path) << "a second request gives the same answer";
    }
}

TEST(ProcessWorkingDirectoryResolver, GivesTheLinkTextUnchangedForARemovedDirectory) {
    QTemporaryDir base;
    ASSERT_TRUE(base.isValid());
    const QString gone = QDir(base.path()).canonicalPath() + "/gone";
    ASSERT_TRUE(QDir().mkpath(gone));
    CurrentDirectory current(gone);
    ASSERT_TRUE(current.changed());
    ASSERT_TRUE(QDir().rmdir(gone));

    // Linux marks the target of a removed directory; it is passed on as read.
    EXPECT_EQ(resolve(ownPid()), gone + " (deleted)");
}

TEST(ProcessWorkingDirectoryResolver, GivesNoneForAPidWithoutAProcess) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        ::_exit(0);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);

    for (const qint32 pid : {static_cast<qint32>(child), 0, -1, INT_MAX, INT_MIN}) {
        SCOPED_TRACE(pid);
        EXPECT_EQ(resolve(pid), std::nullopt);
    }
}

} // namespace
