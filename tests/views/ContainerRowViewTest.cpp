#include "ViewTestSupport.h"

#include "model/ContainerStopping.h"
#include "model/ServiceStopping.h"

#include <QTest>

using namespace quaystone;
using namespace quaystone::test;

namespace {

class AnsweringStopper : public ContainerStopping {
public:
    explicit AnsweringStopper(ContainerStopResult result)
        : m_result(std::move(result)) {}
    QCoro::Task<ContainerStopResult> stop(ContainerInfo) override { co_return ContainerStopResult(m_result); }

private:
    ContainerStopResult m_result;
};

const ContainerInfo db{QStringLiteral("d8"), QStringLiteral("dev-db"), QStringLiteral("postgres:16"),
                       QStringLiteral("/e.sock")};

} // namespace

TEST_F(PopoverViewTest, AContainerRowShowsItsNameImageAndTheEngineRefusal) {
    m_store->setContainerStopper(std::make_unique<AnsweringStopper>(ContainerStopResult{
        ContainerStopOutcome::refused, QStringLiteral("cannot stop container: d8: permission denied")}));
    const PortEntry row = PortEntry::containerListener(5432, db);
    load({row, PortEntry(10, 6000, "node")});

    PortRowView *view = rowOf(5432);
    ASSERT_TRUE(view);
    EXPECT_EQ(textsOf(view), (QStringList{"5432", "dev-db", QStringLiteral("postgres:16 \u00B7 container")}));
    EXPECT_EQ(find(QStringLiteral("kill-port-5432"))->accessibleName(),
              QStringLiteral("Stop container dev-db on port 5432"));
    const PortRowView::Heights heights;
    EXPECT_EQ(view->height(), heights.of(true, false));

    QTest::mouseClick(find(QStringLiteral("kill-port-5432")), Qt::LeftButton);
    drainEvents();
    ASSERT_TRUE(rowOf(5432));
    auto *error = qobject_cast<TextLabel *>(find(QStringLiteral("row-error-5432")));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->text(), QStringLiteral("Could not stop container: cannot stop container: d8: permission denied"));
    EXPECT_EQ(error->accessibleName(), error->text());
    // Wrapped to a second line, never elided.
    const int line = QFontMetrics(error->font()).height();
    EXPECT_EQ(error->height(), 2 * line);
    EXPECT_EQ(rowOf(5432)->height(), heights.of(true, true) + line);
    EXPECT_TRUE(m_killer->pids.isEmpty());
}

TEST_F(PopoverViewTest, AProxysKillIsRefusedOnItsRow) {
    load({PortEntry(7, 5000, "docker-proxy")});
    QTest::mouseClick(find(QStringLiteral("kill-port-5000")), Qt::LeftButton);
    drainEvents();
    auto *error = qobject_cast<TextLabel *>(find(QStringLiteral("row-error-5000")));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->text(), QStringLiteral("Forwards a container's port: stop the container instead"));
    EXPECT_TRUE(m_killer->pids.isEmpty());
}

TEST_F(PopoverViewTest, AServiceRowShowsItsUnitAndStopsItThroughItsManager) {
    class AnsweringServiceStopper : public ServiceStopping {
    public:
        QCoro::Task<ServiceStopResult> stop(ServiceUnit unit) override {
            co_return ServiceStopResult{ServiceStopOutcome::failed, unit.name + QStringLiteral(": Unit is masked.")};
        }
    };
    m_store->setServiceStopper(std::make_unique<AnsweringServiceStopper>());
    // Another user's listener: a system unit's cross stops it, with no administrator's helper.
    const ServiceUnit redis{QStringLiteral("redis-server.service"), ServiceScope::system, 0};
    load({PortEntry::foreignListener(6379, 110, "redis").withService(redis)});

    PortRowView *view = rowOf(6379);
    ASSERT_TRUE(view);
    EXPECT_EQ(textsOf(view),
              (QStringList{"6379", "redis", QStringLiteral("redis-server.service \u00B7 system service")}));
    EXPECT_EQ(find(QStringLiteral("port-row-6379"))->toolTip(),
              QStringLiteral("redis-server.service \u00B7 system service"));
    QTest::mouseClick(find(QStringLiteral("kill-port-6379")), Qt::LeftButton);
    drainEvents();
    auto *error = qobject_cast<TextLabel *>(find(QStringLiteral("row-error-6379")));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->text(), QStringLiteral("Could not stop redis-server.service: Unit is masked."));
    EXPECT_TRUE(m_killer->pids.isEmpty());
}
