#include "app/AppConfig.h"
#include "AppFakes.h"

#include <gtest/gtest.h>

using namespace quaystone;
using namespace quaystone::test;

TEST(AppConfig, PublishesWhatTheControllerReportsOncePerChange) {
    const struct {
        bool initially;
        bool refuses;
        bool wanted;
        bool expected;
    } cases[] = {{false, false, true, true},
                 {true, false, false, false},
                 {true, false, true, true},
                 {false, true, true, false}, // refused: the value read back stays
                 {true, true, false, true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.initially << c.refuses << c.wanted);
        auto owned = std::make_unique<FakeLaunchAtLogin>(c.initially, c.refuses);
        FakeLaunchAtLogin *controller = owned.get();
        AppConfig config(std::move(owned));
        EXPECT_EQ(config.launchAtLoginEnabled(), c.initially);
        EXPECT_EQ(controller->reads, 1);

        QObject context;
        QList<bool> published;
        QObject::connect(&config, &AppConfig::changed, &context,
                         [&] { published.append(config.launchAtLoginEnabled()); });
        config.setLaunchAtLoginEnabled(c.wanted);
        EXPECT_EQ(published, QList<bool>{c.expected});
        EXPECT_EQ(config.launchAtLoginEnabled(), c.expected);
    }
}
