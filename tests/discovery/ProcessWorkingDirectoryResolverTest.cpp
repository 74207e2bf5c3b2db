#include "discovery/ProcessWorkingDirectoryResolver.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <climits>

using namespace quaystone;

namespace {

std::optional<QString> resolve(qint32 pid) {
    ProcessWorkingDirectoryResolver resolver;
    return QCoro::waitFor(resolver.resolve(pid)).workingDirectory;
}

TEST(ProcessWorkingDirectoryResolver, GivesTheWorkingDirectoryOfALiveProcessOnly) {
    QTemporaryDir base;
    // Longer than the first buffer the link is read into.
    const QString name = QStringLiteral("d\u00efr with spaces ") + QString(150, u'x');
    const QString deep = QDir(base.path()).canonicalPath() + u'/' + name + u'/' + name;
    ASSERT_TRUE(base.isValid() && QDir().mkpath(deep));
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(deep));
    const std::optional<QString> own = resolve(qint32(QCoreApplication::applicationPid()));
    QDir::setCurrent(previous);
    EXPECT_EQ(own, deep);

    for (const qint32 pid : {INT_MAX, 0, -1})
        EXPECT_EQ(resolve(pid), std::nullopt) << pid;
}

} // namespace
