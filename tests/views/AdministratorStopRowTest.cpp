#include "ViewTestSupport.h"

#include <QAbstractButton>
#include <QTest>

using namespace quaystone;
using namespace quaystone::test;

namespace {

TEST_F(PopoverViewTest, AnotherUsersListenerIsStoppedAsAdministratorFromItsRow) {
    const PortRowView::Heights heights;
    const struct {
        AdministratorStopOutcome outcome;
        const char *errorText; // null: no error line
        bool rowStays;
    } cases[] = {
        {AdministratorStopOutcome::stopped, nullptr, false},
        {AdministratorStopOutcome::cancelled, nullptr, true},
        {AdministratorStopOutcome::notAuthorized, "Not authorized", true},
        {AdministratorStopOutcome::unavailable, "Stopping as administrator is unavailable", true},
        {AdministratorStopOutcome::failed, "Could not kill process", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.outcome));
        reset();
        const PortEntry root = PortEntry::foreignListener(5432, 0, QStringLiteral("root"));
        load({PortEntry(10, 3000, "node"), root});

        auto *button = qobject_cast<QAbstractButton *>(find(QStringLiteral("admin-stop-port-5432")));
        ASSERT_TRUE(button);
        EXPECT_FALSE(find(QStringLiteral("kill-port-5432"))) << "no kill button without a process";
        EXPECT_FALSE(find(QStringLiteral("admin-stop-port-3000"))) << "the user's own process is killed as before";
        EXPECT_TRUE(button->accessibleName().contains(QStringLiteral("5432")));
        EXPECT_TRUE(textsOf(rowOf(5432)).contains(QStringLiteral("Stop as administrator...")));
        EXPECT_EQ(rowOf(5432)->height(), heights.of(root, std::nullopt));

        m_administratorStopper->outcome = c.outcome;
        // The listing after the stop no longer has the listener only when it was stopped.
        m_listing->answer = c.rowStays ? m_listing->answer : QList<PortEntry>{PortEntry(10, 3000, "node")};
        QTest::mouseClick(button, Qt::LeftButton);
        drainEvents();

        EXPECT_EQ(m_administratorStopper->ports, QList<qint64>{5432});
        EXPECT_TRUE(m_killer->pids.isEmpty());
        EXPECT_EQ(rowOf(5432) != nullptr, c.rowStays);
        auto *error = qobject_cast<TextLabel *>(find(QStringLiteral("row-error-5432")));
        if (!c.errorText) {
            EXPECT_FALSE(error);
            continue;
        }
        ASSERT_TRUE(error);
        EXPECT_EQ(error->text(), QString::fromUtf8(c.errorText));
        EXPECT_EQ(error->accessibleName(), error->text());
        EXPECT_EQ(error->displayedText(), error->text()) << "never elided";
        EXPECT_EQ(rowOf(5432)->height(), heights.of(root, error->text()));
    }
}

} // namespace
