#include "ViewTestSupport.h"

#include "views/Divider.h"
#include "views/PopoverFooterView.h"
#include "views/PopoverHeaderView.h"

#include <functional>

using namespace quaystone;
using namespace quaystone::test;
using namespace std::chrono_literals;

namespace {

const QString hint = QStringLiteral("Ctrl+R");

TEST_F(PopoverViewTest, ContentFollowsRefreshStateAndEntries) {
    const QList<PortEntry> one{entry(10, 3000, QStringLiteral("node"))};
    struct Case {
        const char *name;
        std::function<void(PopoverViewTest &)> arrange;
        QStringList texts;
        int dividers;
    };
    const std::vector<Case> cases{
        {"idle before any refresh", [](auto &) {}, {"No active ports", "Listening on 3000-9999"}, 0},
        {"first refresh running",
         [](PopoverViewTest &t) {
             t.m_listing->held = true;
             startMainThreadTask([&t] { return t.store().refresh(); });
         },
         {"Checking ports..."},
         0},
        {"first refresh running over seeded rows",
         [&](PopoverViewTest &t) {
             t.store().seedEntries(one);
             t.m_listing->held = true;
             startMainThreadTask([&t] { return t.store().refresh(); });
         },
         {"PORT", "PROCESS", "3000", "node"},
         1},
        {"idle with seeded rows",
         [&](PopoverViewTest &t) { t.store().seedEntries(one); },
         {"PORT", "PROCESS", "3000", "node"},
         1},
        {"idle after a failed first refresh",
         [](PopoverViewTest &t) {
             t.m_listing->answer = CommandRunnerError::launchFailed;
             startMainThreadTask([&t] { return t.store().refresh(); });
         },
         {"No active ports", "Listening on 3000-9999"},
         0},
        {"loaded, nothing listening",
         [](PopoverViewTest &t) { t.load({}); },
         {"No active ports", "Listening on 3000-9999", "Last updated just now", hint},
         1},
        {"loaded with rows",
         [&](PopoverViewTest &t) { t.load(one); },
         {"PORT", "PROCESS", "3000", "node", "Last updated just now", hint},
         2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        c.arrange(*this);
        drainEvents();
        EXPECT_EQ(textsOf(&view()), c.texts);
        EXPECT_EQ(view().findChildren<Divider *>().size(), c.dividers);
        EXPECT_EQ(view().width(), 320);
        EXPECT_EQ(view().height(), view().layout()->sizeHint().height());
        if (m_listing->pending.waiting() > 0)
            m_listing->pending.complete(QList<PortEntry>{});
        drainEvents();
    }
}

TEST_F(PopoverViewTest, FooterTellsWholeSecondsSinceTheLastRefresh) {
    const auto shifted = [](std::chrono::milliseconds offset) -> PortStore::Clock {
        return [offset] { return std::chrono::system_clock::now() - offset; };
    };
    const struct {
        const char *name;
        PortStore::Clock clock;
        QString footer;
    } cases[] = {
        {"4.9 s", shifted(4900ms), "Last updated just now"},
        {"5 s", shifted(5s), "Last updated 5s ago"},
        {"an hour, still in seconds", shifted(1h), "Last updated 3600s ago"},
        {"in the future", shifted(-1min), "Last updated just now"},
        {"at the clock's far past", [] { return PortStore::TimePoint::min(); }, "Last updated 9223372036s ago"},
        {"at the clock's far future", [] { return PortStore::TimePoint::max(); }, "Last updated just now"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        reset(c.clock);
        load({entry(10, 3000, QStringLiteral("node"))});
        auto *footer = view().findChild<PopoverFooterView *>();
        ASSERT_TRUE(footer);
        EXPECT_EQ(textsOf(footer), (QStringList{c.footer, hint}));
    }

    // The fixed texts fit whole in their lines.
    showView();
    QList<TextLabel *> labels = view().findChild<PopoverFooterView *>()->findChildren<TextLabel *>();
    labels += view().findChild<PopoverHeaderView *>()->findChildren<TextLabel *>();
    for (TextLabel *label : labels)
        EXPECT_EQ(label->displayedText(), label->text());
}

TEST_F(PopoverViewTest, ShowingTheViewRefreshesOnlyAnIdleStore) {
    const struct {
        const char *name;
        std::function<void(PopoverViewTest &)> arrange;
        int listingCalls;
    } cases[] = {
        {"never refreshed", [](auto &) {}, 1},
        {"after a failed first refresh",
         [](PopoverViewTest &t) {
             t.m_listing->answer = CommandRunnerError::launchFailed;
             auto task = t.store().refresh();
             t.m_listing->answer = QList<PortEntry>{};
         },
         2},
        {"loaded", [](PopoverViewTest &t) { t.load({}); }, 1},
        {"first refresh running",
         [](PopoverViewTest &t) {
             t.m_listing->held = true;
             startMainThreadTask([&t] { return t.store().refresh(); });
             drainEvents();
         },
         1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        c.arrange(*this);
        showView();
        // A refresh asked for while one runs would show up as a second listing.
        if (m_listing->pending.waiting() > 0)
            m_listing->pending.complete(QList<PortEntry>{});
        drainEvents();
        EXPECT_EQ(m_listing->calls, c.listingCalls);
        EXPECT_EQ(store().refreshState(), RefreshState::loaded);
    }
}

} // namespace
