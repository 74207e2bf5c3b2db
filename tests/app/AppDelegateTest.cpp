#include "app/AppDelegate.h"
#include "model/PortStore.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QWidget>
#include <gtest/gtest.h>

using namespace quaystone;

namespace {

QStringList visibleWindowTitles() {
    test::drainEvents();
    QStringList titles;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (w->isVisible())
            titles << w->windowTitle();
    }
    return titles;
}

} // namespace

TEST(AppDelegate, BackgroundStartShowsNoWindowAndStartsNoRefresh) {
    LaunchOptions background;
    background.startMode = StartMode::background;
    AppDelegate delegate(background);
    delegate.applicationDidFinishLaunching();
    EXPECT_TRUE(visibleWindowTitles().isEmpty());
    EXPECT_EQ(delegate.store().refreshState(), RefreshState::idle);
    EXPECT_FALSE(delegate.store().isRefreshing());
    QApplication::setQuitOnLastWindowClosed(true);
}

TEST(AppDelegate, UITestModeShowsOnlyTheTestWindow) {
    for (const auto scenario : {UITestScenario::normal, UITestScenario::killPermissionDenied}) {
        AppDelegate delegate(LaunchOptions{true, scenario, TerminalCommand::none, std::nullopt});
        delegate.applicationDidFinishLaunching();
        EXPECT_EQ(visibleWindowTitles(), QStringList{"Quaystone UI Test Host"});
    }
}
