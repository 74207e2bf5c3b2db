#include "app/AppConfig.h"
#include "model/PortStore.h"
#include "support/TestSupport.h"
#include "uitest/UITestHostSceneRoot.h"
#include "uitest/UITestScenarioState.h"

#include <QCheckBox>
#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>

using namespace quaystone;
using namespace quaystone::test;

namespace {

// The window the binary shows in UI-test mode, driven in process.
struct Host {
    explicit Host(UITestScenario scenario = UITestScenario::normal)
        : root(scenario) {}
    // Tasks still queued would outlive the store they refer to.
    ~Host() { settle(); }

    int listings() { return root.scenarioState().listingCount(); }
    QWidget *find(const QString &name) { return root.findChild<QWidget *>(name); }
    QString label(const QString &name) {
        auto *l = root.findChild<QLabel *>(name);
        return l ? l->text() : QStringLiteral("<no %1>").arg(name);
    }
    // The texts shown inside a row, or anywhere in the window.
    QStringList textsIn(const QString &name = {}) {
        QStringList texts;
        for (const QLabel *l : (name.isEmpty() ? &root : find(name))->findChildren<QLabel *>())
            texts << l->text();
        return texts;
    }
    void click(const QString &name) {
        QWidget *widget = find(name);
        ASSERT_NE(widget, nullptr) << qPrintable(name);
        QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center());
    }
    // Runs queued tasks until the store has finished every pass it owes.
    void settle() {
        EXPECT_TRUE(spinUntil([&] {
            drainEvents();
            return !root.store().isRefreshing();
        }));
    }

    UITestHostSceneRoot root;
};

} // namespace

TEST(UITestHost, ShowsTheSeedFirstThenTheFirstRefreshReplacesTheDirectories) {
    Host host;
    host.root.show();
    // Before any queued task has run: the seeded rows, the first one selected, no footer.
    EXPECT_EQ(host.label("selected-port-label"), "Selected Port 4242");
    EXPECT_TRUE(host.textsIn("port-row-5252").contains("/tmp/uitest/worker"));
    EXPECT_FALSE(host.textsIn().join('|').contains("Last updated"));
    EXPECT_EQ(host.listings(), 0);

    // The views' appearance starts the first refresh by itself.
    host.settle();
    EXPECT_EQ(host.listings(), 1);
    EXPECT_TRUE(host.textsIn().join('|').contains("Last updated"));
    EXPECT_TRUE(host.textsIn("port-row-5252").contains("/tmp/uitest/project"));
    EXPECT_EQ(host.label("selected-port-label"), "Selected Port 4242");

    host.click("port-row-5252");
    EXPECT_EQ(host.label("selected-port-label"), "Selected Port 5252");
    EXPECT_EQ(host.find("selected-port-label")->accessibleName(), "Selected Port 5252");
    host.click("port-row-4242");
    EXPECT_EQ(host.label("selected-port-label"), "Selected Port 4242");
}

TEST(UITestHost, RefreshPressedDuringARefreshOwesExactlyOneMorePass) {
    Host host;
    // Two presses while the first refresh is under way, before it has listed anything.
    QObject context;
    QObject::connect(&host.root.store(), &PortStore::changed, &context, [&] {
        if (host.root.store().refreshState() == RefreshState::loadingInitial && host.listings() == 0) {
            host.click("refresh-button");
            host.click("refresh-button");
        }
    });
    host.root.show();
    host.settle();
    EXPECT_EQ(host.listings(), 2);
    host.click("refresh-button");
    host.settle();
    EXPECT_EQ(host.listings(), 3);
}

TEST(UITestHost, LaunchAtLoginSwitchAndLabelFollowTheSetting) {
    Host host;
    host.root.show();
    auto *box = host.root.findChild<QCheckBox *>("launch-at-login-switch");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(host.label("launch-at-login-label"), "Launch at Login Off");
    // A mouse click, then the plain toggle that assistive technologies perform.
    for (const bool byMouse : {true, true, false, false}) {
        const bool wanted = !box->isChecked();
        if (byMouse)
            host.click("launch-at-login-switch");
        else
            box->toggle();
        EXPECT_EQ(box->isChecked(), wanted);
        EXPECT_EQ(host.root.appConfig().launchAtLoginEnabled(), wanted);
        EXPECT_EQ(host.label("launch-at-login-label"), wanted ? "Launch at Login On" : "Launch at Login Off");
    }
}

TEST(UITestHost, KillsFollowTheScenario) {
    const struct {
        UITestScenario scenario;
        QString port;
        bool rowStays;
        QString selectionAfter;
    } cases[] = {
        {UITestScenario::normal, "4242", false, "Selected Port 5252"},
        {UITestScenario::killPermissionDenied, "5252", true, "Selected Port 4242"},
        {UITestScenario::killPermissionDenied, "4242", false, "Selected Port 5252"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(c.scenario) << " " << c.port.toStdString());
        Host host(c.scenario);
        host.root.show();
        host.settle();
        host.click("kill-port-" + c.port);
        // The kill ends with a refresh of its own; one more shows the row's fate holds.
        EXPECT_TRUE(spinUntil([&] { return host.listings() == 2; }));
        host.settle();
        host.click("refresh-button");
        host.settle();
        EXPECT_EQ(host.listings(), 3);
        EXPECT_EQ(host.find("port-row-" + c.port) != nullptr, c.rowStays);
        EXPECT_EQ(host.label("row-error-" + c.port),
                  c.rowStays ? "Permission denied" : "<no row-error-" + c.port + ">");
        EXPECT_EQ(host.label("selected-port-label"), c.selectionAfter);
    }
}
