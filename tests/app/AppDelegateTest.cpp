#include "app/AppDelegate.h"
#include "model/PortStore.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QWidget>
#include <gtest/gtest.h>

using namespace quaystone;

namespace {

QList<QWidget *> visibleWindows() {
    QList<QWidget *> visible;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->isVisible())
            visible << w;
    }
    return visible;
}

} // namespace

TEST(AppDelegate, NormalModeShowsNoWindowAndStartsNoRefresh) {
    AppDelegate delegate(LaunchOptions{});
    delegate.applicationDidFinishLaunching();
    test::drainEvents();
    EXPECT_TRUE(visibleWindows().isEmpty());
    EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
    EXPECT_FALSE(delegate.store().isRefreshing());
    EXPECT_EQ(delegate.store().refreshState(), RefreshState::idle);
    EXPECT_EQ(delegate.store().range(), (PortRange{3000, 9999}));
    EXPECT_EQ(&delegate.menuBarController(), &delegate.menuBarController());
    QApplication::setQuitOnLastWindowClosed(true);
}

TEST(AppDelegate, UITestModeShowsOnlyTheTestWindow) {
    for (const auto scenario : {UITestScenario::normal, UITestScenario::killPermissionDenied}) {
        AppDelegate delegate(LaunchOptions{true, scenario});
        delegate.applicationDidFinishLaunching();
        test::drainEvents();
        const QList<QWidget *> windows = visibleWindows();
        ASSERT_EQ(windows.size(), 1);
        EXPECT_EQ(windows.front()->windowTitle(), "Quaystone UI Test Host");
        EXPECT_TRUE(QApplication::quitOnLastWindowClosed());
    }
}
