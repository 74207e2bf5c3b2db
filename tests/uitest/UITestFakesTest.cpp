#include "support/TestSupport.h"
#include "uitest/UITestListingService.h"
#include "uitest/UITestProcessKiller.h"
#include "uitest/UITestScenarioState.h"

#include <gtest/gtest.h>

using namespace quaystone;
using namespace quaystone::test;

namespace {

QList<qint64> listedPorts(UITestListingService &listing) {
    QList<qint64> ports;
    const PortListingResult result = awaitTask(listing.listPorts({6000, 7000})); // any range
    for (const PortEntry &entry : result.value())
        ports << entry.port();
    return ports;
}

} // namespace

TEST(UITestFakes, KillsFollowTheScenarioAndKilledProcessesStayUnlisted) {
    const auto normal = UITestScenario::normal, denied = UITestScenario::killPermissionDenied;
    const auto killed = ProcessKillOutcome::killed, refused = ProcessKillOutcome::permissionDenied;
    const struct {
        UITestScenario scenario;
        QList<qint32> pids;
        QList<ProcessKillOutcome> outcomes;
        QList<qint64> listedAfter;
    } cases[] = {
        {normal, {}, {}, {4242, 5252}},
        {normal, {777}, {killed}, {5252}},
        {normal, {888, 777}, {killed, killed}, {}},
        {normal, {4242}, {killed}, {4242, 5252}}, // a port is not a pid
        {denied, {888, 888}, {refused, refused}, {4242, 5252}},
        {denied, {777, 888}, {killed, refused}, {5252}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(c.scenario) << " " << c.pids.size());
        auto state = std::make_shared<UITestScenarioState>(c.scenario);
        UITestProcessKiller killer(state);
        UITestListingService listing(state);
        QList<ProcessKillOutcome> outcomes;
        for (qint32 pid : c.pids)
            outcomes << awaitTask(killer.kill(pid, std::nullopt));
        EXPECT_EQ(outcomes, c.outcomes);
        for (int i = 0; i < 2; ++i) // and again: nothing comes back
            EXPECT_EQ(listedPorts(listing), c.listedAfter);
    }
}
