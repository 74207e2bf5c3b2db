#include "support/TestSupport.h"
#include "uitest/UITestFixedEntries.h"
#include "uitest/UITestLaunchAtLoginController.h"
#include "uitest/UITestListingService.h"
#include "uitest/UITestProcessKiller.h"
#include "uitest/UITestScenarioState.h"
#include "uitest/UITestWorkingDirectoryResolver.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>

namespace quaystone {
namespace {

template <typename T>
QCoro::Task<> storeResult(QCoro::Task<T> task, std::optional<T> *out) {
    out->emplace(co_await std::move(task));
}

// Runs the task to its end on the event loop.
template <typename T>
T run(QCoro::Task<T> task) {
    std::optional<T> result;
    QCoro::waitFor(storeResult(std::move(task), &result));
    return std::move(*result);
}

QList<qint64> ports(const QList<PortEntry> &entries) {
    QList<qint64> result;
    for (const PortEntry &entry : entries)
        result.append(entry.port());
    return result;
}

QList<PortEntry> list(UITestListingService &listing, PortRange range = {3000, 9999}) {
    PortListingResult result = run(listing.listPorts(range));
    EXPECT_TRUE(result.hasValue());
    return result ? std::move(result).value() : QList<PortEntry>{};
}

TEST(UITestFixedEntries, AreTheServerThenTheWorker) {
    const QList<PortEntry> expected{
        PortEntry(777, 4242, "UITestServer", QString("/tmp/uitest/project")),
        PortEntry(888, 5252, "UITestWorker", QString("/tmp/uitest/worker")),
    };
    EXPECT_EQ(uiTestFixedEntries(), expected);
}

TEST(UITestListingService, IgnoresTheRangeItIsGiven) {
    const PortRange ranges[] = {{3000, 9999}, {0, 0}, {4243, 5251}, {6000, 7000}, {9999, 3000}, {-5, -1}};
    for (const PortRange &range : ranges) {
        SCOPED_TRACE(testing::Message() << range.lowerBound << "-" << range.upperBound);
        UITestListingService listing(std::make_shared<UITestScenarioState>(UITestScenario::normal));
        EXPECT_EQ(list(listing, range), uiTestFixedEntries());
    }
}

TEST(UITestListingService, CompletesOnlyAfterTheEventLoopTurns) {
    // Clicks that arrive while a listing is out must be served before it completes, so that
    // a Refresh pressed during a refresh finds that refresh still running.
    auto state = std::make_shared<UITestScenarioState>(UITestScenario::normal);
    UITestListingService listing(state);
    QCoro::Task<PortListingResult> task = listing.listPorts({3000, 9999});
    EXPECT_FALSE(task.isReady());
    EXPECT_EQ(state->listingCount(), 0);
    EXPECT_TRUE(test::spinUntil([&] { return task.isReady(); }));
    EXPECT_EQ(state->listingCount(), 1);
}

TEST(UITestProcessKiller, FollowsTheScenario) {
    struct Case {
        UITestScenario scenario;
        qint32 pid;
        ProcessKillOutcome outcome;
        QList<qint64> listedAfter;
    };
    const Case cases[] = {
        {UITestScenario::normal, 777, ProcessKillOutcome::killed, {5252}},
        {UITestScenario::normal, 888, ProcessKillOutcome::killed, {4242}},
        {UITestScenario::normal, 4242, ProcessKillOutcome::killed, {4242, 5252}}, // a port is not a pid
        {UITestScenario::killPermissionDenied, 888, ProcessKillOutcome::permissionDenied, {4242, 5252}},
        {UITestScenario::killPermissionDenied, 777, ProcessKillOutcome::killed, {5252}},
        {UITestScenario::killPermissionDenied, 999, ProcessKillOutcome::killed, {4242, 5252}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "scenario " << static_cast<int>(c.scenario) << ", pid " << c.pid);
        auto state = std::make_shared<UITestScenarioState>(c.scenario);
        UITestProcessKiller killer(state);
        UITestListingService listing(state);
        // Asked twice: a refusal is not used up, a success stays a success.
        EXPECT_EQ(run(killer.kill(c.pid)), c.outcome);
        EXPECT_EQ(run(killer.kill(c.pid)), c.outcome);
        EXPECT_EQ(ports(list(listing)), c.listedAfter);
        EXPECT_EQ(state->hiddenPIDs().contains(c.pid), c.outcome == ProcessKillOutcome::killed);
    }
}

TEST(UITestScenarioState, HiddenProcessesOnlyGrow) {
    auto state = std::make_shared<UITestScenarioState>(UITestScenario::killPermissionDenied);
    UITestProcessKiller killer(state);
    UITestListingService listing(state);

    const struct {
        qint32 pid;
        QSet<qint32> hidden;
        QList<qint64> listed;
    } steps[] = {
        {888, {}, {4242, 5252}}, {777, {777}, {5252}},  {888, {777}, {5252}},
        {777, {777}, {5252}},    {5, {777, 5}, {5252}},
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(testing::Message() << "kill " << step.pid);
        run(killer.kill(step.pid));
        EXPECT_EQ(state->hiddenPIDs(), step.hidden);
        EXPECT_EQ(ports(list(listing)), step.listed);
    }

    // Normal scenario: both gone leaves an empty listing for good.
    auto normal = std::make_shared<UITestScenarioState>(UITestScenario::normal);
    UITestProcessKiller normalKiller(normal);
    UITestListingService normalListing(normal);
    run(normalKiller.kill(888));
    run(normalKiller.kill(777));
    EXPECT_TRUE(list(normalListing).isEmpty());
    EXPECT_TRUE(list(normalListing).isEmpty());
}

TEST(UITestWorkingDirectoryResolver, AnswersTheProjectForAnyPid) {
    UITestWorkingDirectoryResolver resolver;
    for (const qint32 pid : {777, 888, 1, 0, -1, 424242}) {
        SCOPED_TRACE(pid);
        EXPECT_EQ(run(resolver.resolve(pid)), std::optional<QString>("/tmp/uitest/project"));
    }
}

TEST(UITestLaunchAtLoginController, ReadsBackWhatWasLastSet) {
    UITestLaunchAtLoginController controller;
    EXPECT_FALSE(controller.isEnabled());
    for (const bool value : {true, true, false, false, true}) {
        EXPECT_EQ(controller.setEnabled(value), std::nullopt);
        EXPECT_EQ(controller.isEnabled(), value);
    }
}

} // namespace
} // namespace quaystone
