// Quitting the application while lsof hangs: its own program, since it ends the event loop.
#include "discovery/DefaultPortListingService.h"
#include "discovery/ProcessCommandRunner.h"
#include "discovery/ProcessWorkingDirectoryResolver.h"
#include "model/MainThreadTask.h"
#include "model/PortStore.h"
#include "termination/SignalProcessKiller.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>

using namespace quaystone;
using namespace std::chrono_literals;

namespace {

// Under the address sanitizer this also proves that the unfinished refresh is not leaked: its
// coroutines must run to their end for their frames to be freed.
TEST(QuitWithRunningChild, KillsAndReapsTheChildAndEndsTheRefresh) {
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const QString pidFile = directory.filePath("pid");
    const QString lsof = directory.filePath("lsof");
    QFile script(lsof);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\necho $$ > '" + pidFile.toUtf8() + "'\nexec sleep 60\n");
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    auto store = std::make_unique<PortStore>(
        std::make_unique<DefaultPortListingService>(std::make_unique<ProcessCommandRunner>(), LsofParser{}, lsof),
        std::make_unique<ProcessWorkingDirectoryResolver>(), SignalProcessKiller::makeDefault());
    startMainThreadTask([&store] { return store->refresh(); });
    // Owed while the first pass hangs: quitting must not start it.
    startMainThreadTask([&store] { return store->refresh(); });

    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QFile(pidFile).size() > 0)
            QCoreApplication::quit();
    });
    poll.start(10);
    QTimer giveUp;
    QObject::connect(&giveUp, &QTimer::timeout, [] { QCoreApplication::quit(); });
    giveUp.start(20s);
    QCoreApplication::exec();

    QFile file(pidFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << "the stand-in never ran";
    const pid_t pid = pid_t(file.readAll().trimmed().toLongLong());
    EXPECT_EQ(::kill(pid, 0), -1) << "the child is gone, and no zombie is left";
    EXPECT_EQ(errno, ESRCH);
    EXPECT_FALSE(store->isRefreshing()) << "the refresh ran to its end";
    EXPECT_EQ(store->refreshState(), RefreshState::idle);
}

} // namespace
