#include "app/AppConfig.h"
#include "app/LaunchAtLoginControlling.h"
#include "model/PortStore.h"
#include "support/TestSupport.h"
#include "uitest/UITestHostSceneRoot.h"
#include "uitest/UITestHostView.h"
#include "uitest/UITestScenarioState.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace quaystone {
namespace {

// The window the binary shows in UI-test mode, driven in process.
class Host {
public:
    explicit Host(UITestScenario scenario = UITestScenario::normal)
        : root(std::make_unique<UITestHostSceneRoot>(scenario)) {}

    ~Host() {
        // Tasks still queued would outlive the store they refer to.
        settle();
    }

    PortStore &store() { return root->store(); }
    int listings() { return root->scenarioState().listingCount(); }

    template <typename T = QWidget>
    T *find(const QString &name) {
        return root->findChild<T *>(name);
    }

    QString label(const QString &name) {
        QLabel *l = find<QLabel>(name);
        return l ? l->text() : QStringLiteral("<no %1>").arg(name);
    }

    void click(const QString &name) {
        QWidget *widget = find(name);
        ASSERT_NE(widget, nullptr) << qPrintable(name);
        QTest::mouseClick(widget, Qt::LeftButton, {}, widget->rect().center());
    }

    // Runs queued tasks until the store has finished every pass it owes.
    void settle() {
        EXPECT_TRUE(test::spinUntil([&] {
            test::drainEvents();
            return !store().isRefreshing();
        }));
        test::drainEvents();
    }

    void showAndSettle() {
        root->show();
        settle();
    }

    // The texts shown inside a widget (a row, say), in any order.
    QStringList textsIn(const QString &name) {
        QStringList texts;
        if (QWidget *widget = find(name)) {
            for (const QLabel *l : widget->findChildren<QLabel *>())
                texts.append(l->text());
        }
        return texts;
    }

    bool hasFooter() {
        for (const QLabel *l : root->findChildren<QLabel *>()) {
            if (l->text().startsWith(QLatin1String("Last updated")))
                return true;
        }
        return false;
    }

    std::unique_ptr<UITestHostSceneRoot> root;
};

TEST(UITestHost, FirstDisplayShowsTheSeedThenTheFirstRefreshReplacesDirectories) {
    Host host;
    EXPECT_EQ(host.root->windowTitle(), "Quaystone UI Test Host");
    host.root->show();

    // Before any queued task has run: the seeded rows, the first one selected, no footer.
    QWidget *server = host.find("port-row-4242");
    QWidget *worker = host.find("port-row-5252");
    ASSERT_NE(server, nullptr);
    ASSERT_NE(worker, nullptr);
    EXPECT_LT(server->mapTo(host.root.get(), QPoint()).y(), worker->mapTo(host.root.get(), QPoint()).y());
    EXPECT_EQ(host.label("selected-port-label"), "Selected Port 4242");
    EXPECT_EQ(host.find("selected-port-label")->accessibleName(), "Selected Port 4242");
    EXPECT_EQ(host.store().refreshState(), RefreshState::idle);
    EXPECT_FALSE(host.hasFooter());
    EXPECT_TRUE(host.textsIn("port-row-5252").contains("/tmp/uitest/worker"));
    EXPECT_EQ(host.listings(), 0);

    // The popup views' appearance starts the first refresh by itself.
    host.settle();
    EXPECT_EQ(host.listings(), 1);
    EXPECT_EQ(host.store().refreshState(), RefreshState::loaded);
    EXPECT_TRUE(host.hasFooter());
    EXPECT_TRUE(host.textsIn("port-row-4242").contains("/tmp/uitest/project"));
    EXPECT_TRUE(host.textsIn("port-row-5252").contains("/tmp/uitest/project"));
    EXPECT_FALSE(host.textsIn("port-row-5252").contains("/tmp/uitest/worker"));
    EXPECT_EQ(host.label("selected-port-label"), "Selected Port 4242");
}

TEST(UITestHost, SelectionLabelFollowsTheStore) {
    Host host;
    host.showAndSettle();

    host.click("port-row-5252");
    EXPECT_EQ(host.label("selected-port-label"), "Selected Port 5252");
    host.click("port-row-5252");
    EXPECT_EQ(host.label("selected-port-label"), "Selected Port 5252");
    host.click("port-row-4242");
    EXPECT_EQ(host.label("selected-port-label"), "Selected Port 4242");

    const struct {
        std::optional<PortEntryID> selection;
        QString text;
    } cases[] = {
        {std::nullopt, "Selected Port None"},
        {PortEntryID{888, 5252}, "Selected Port 5252"},
        {PortEntryID{1, 65535}, "Selected Port 65535"},
        {PortEntryID{1, 3000}, "Selected Port 3000"},
    };
    for (const auto &c : cases) {
        host.store().setSelectedEntryID(c.selection);
        EXPECT_EQ(host.label("selected-port-label"), c.text);
        EXPECT_EQ(host.find("selected-port-label")->accessibleName(), c.text);
    }
}

TEST(UITestHost, RefreshPressedDuringARefreshOwesExactlyOneMorePass) {
    Host host;
    // The window's appearance queues the first refresh; both presses land before it has
    // listed anything, so they find it running.
    host.root->show();
    host.click("refresh-button");
    host.click("refresh-button");
    host.settle();
    EXPECT_EQ(host.listings(), 2);

    // Once idle, a press refreshes again; the button asks whatever the state.
    host.click("refresh-button");
    host.settle();
    EXPECT_EQ(host.listings(), 3);
    EXPECT_EQ(host.store().refreshState(), RefreshState::loaded);
}

TEST(UITestHost, LaunchAtLoginSwitchAndLabelFollowTheSetting) {
    Host host;
    host.showAndSettle();
    auto *box = host.find<QCheckBox>("launch-at-login-switch");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), "Launch at Login");

    EXPECT_FALSE(box->isChecked());
    EXPECT_EQ(host.label("launch-at-login-label"), "Launch at Login Off");

    // A mouse click, and the plain toggle that assistive technologies perform.
    const std::function<void()> byMouse = [&] { host.click("launch-at-login-switch"); };
    const std::function<void()> byToggle = [&] { box->toggle(); };
    const struct {
        const std::function<void()> &toggle;
        bool checked;
        QString label;
    } steps[] = {
        {byMouse, true, "Launch at Login On"},
        {byMouse, false, "Launch at Login Off"},
        {byToggle, true, "Launch at Login On"},
        {byToggle, false, "Launch at Login Off"},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(i);
        steps[i].toggle();
        EXPECT_EQ(box->isChecked(), steps[i].checked);
        EXPECT_EQ(host.root->appConfig().launchAtLoginEnabled(), steps[i].checked);
        EXPECT_EQ(host.label("launch-at-login-label"), steps[i].label);
    }
}

// A login-item service that accepts nothing: the switch must go on showing what it reports.
class RefusingController : public LaunchAtLoginControlling {
public:
    bool isEnabled() const override { return false; }
    std::optional<LaunchAtLoginError> setEnabled(bool) override { return LaunchAtLoginError::writeFailed; }
};

TEST(UITestHostView, SwitchShowsThePublishedValueNotTheRequestedOne) {
    auto *root = new UITestHostSceneRoot(UITestScenario::normal);
    std::unique_ptr<UITestHostSceneRoot> owner(root);
    AppConfig refusing(std::make_unique<RefusingController>());
    UITestHostView view(root->store(), refusing);

    auto *box = view.findChild<QCheckBox *>("launch-at-login-switch");
    QTest::mouseClick(box, Qt::LeftButton, {}, box->rect().center());
    EXPECT_FALSE(box->isChecked());
    box->toggle();
    EXPECT_FALSE(box->isChecked());
    EXPECT_EQ(view.findChild<QLabel *>("launch-at-login-label")->text(), "Launch at Login Off");
    test::drainEvents();
}

TEST(UITestHost, KillsFollowTheScenario) {
    const struct {
        UITestScenario scenario;
        qint64 port;
        bool rowStays;
        QString selectionAfter;
    } cases[] = {
        {UITestScenario::normal, 4242, false, "Selected Port 5252"},
        {UITestScenario::normal, 5252, false, "Selected Port 4242"},
        {UITestScenario::killPermissionDenied, 5252, true, "Selected Port 4242"},
        {UITestScenario::killPermissionDenied, 4242, false, "Selected Port 5252"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "scenario " << static_cast<int>(c.scenario) << ", port " << c.port);
        Host host(c.scenario);
        host.showAndSettle();
        const QString port = QString::number(c.port);

        host.click("kill-port-" + port);
        // The kill ends with a refresh of its own.
        EXPECT_TRUE(test::spinUntil([&] { return host.listings() == 2; }));
        host.settle();
        // The row's fate survives a refresh: a killed entry is not listed again, a refused
        // one keeps its error.
        host.click("refresh-button");
        host.settle();
        EXPECT_EQ(host.listings(), 3);

        EXPECT_EQ(host.find("port-row-" + port) != nullptr, c.rowStays);
        if (c.rowStays) {
            EXPECT_EQ(host.label("row-error-" + port), "Permission denied");
        }
        EXPECT_EQ(host.find("row-error-" + port) != nullptr, c.rowStays);
        EXPECT_EQ(host.label("selected-port-label"), c.selectionAfter);
    }
}

} // namespace
} // namespace quaystone
