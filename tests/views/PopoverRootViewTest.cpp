#include "ViewTestSupport.h"

#include "views/Divider.h"
#include "views/PopoverFooterView.h"

#include <QAccessible>

using namespace quaystone;
using namespace quaystone::test;
using namespace std::chrono_literals;

namespace {

enum Refresh { none, running, failed, done };

const ListingError lsofMissing{ListingFailure::toolMissing, "/usr/bin/lsof"};

// What a screen reader is told about a widget.
QString spoken(QWidget *widget, QAccessible::Text text) {
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
    return accessible ? accessible->text(text) : QString();
}

// Seeds `entries` and brings the store to a first refresh that has not begun, is running (its
// listing held), has failed, or is done listing `entries`.
void arrange(PopoverViewTest &t, Refresh refresh, const QList<PortEntry> &entries = {}) {
    if (refresh == done)
        return t.load(entries);
    t.store().seedEntries(entries);
    t.m_listing->held = refresh == running;
    if (refresh == failed)
        t.m_listing->answer = lsofMissing;
    if (refresh != none)
        startMainThreadTask([&t] { return t.store().refresh(); });
    drainEvents();
}

// Showing the view then refreshes an idle store only: a second refresh shows as a second listing.
TEST_F(PopoverViewTest, ContentFollowsRefreshStateAndShowingRefreshesAnIdleStore) {
    const QList<PortEntry> one{PortEntry(10, 3000, "node")};
    const QStringList empty{"No active ports", "Listening on 3000-9999"};
    const QStringList rows{"PORT", "PROCESS", "3000", "node"};
    const QStringList footer{"Last updated just now", "Ctrl+R"};
    const QStringList cannotList{"Can't list ports", "lsof was not found at /usr/bin/lsof. Install the lsof package.",
                                 "Press Ctrl+R to try again"};
    const struct {
        const char *name;
        QList<PortEntry> entries;
        Refresh refresh;
        QStringList texts;
        int dividers;
        qsizetype listingsAfterShowing;
    } cases[] = {
        {"idle before any refresh", {}, none, empty, 0, 1},
        {"first refresh running", {}, running, {"Checking ports..."}, 0, 1},
        {"first refresh running over seeded rows", one, running, rows, 1, 1},
        {"idle after a failed first refresh", {}, failed, cannotList, 0, 2},
        {"loaded, nothing listening", {}, done, empty + footer, 1, 1},
        {"loaded with rows", one, done, rows + footer, 2, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        arrange(*this, c.refresh, c.entries);
        EXPECT_EQ(textsOf(&view()), c.texts);
        EXPECT_EQ(view().findChildren<Divider *>().size(), c.dividers);

        m_listing->answer = QList<PortEntry>{};
        view().hide();
        view().show();
        drainEvents();
        if (m_listing->pending.waiting() > 0)
            m_listing->pending.complete(QList<PortEntry>{});
        drainEvents();
        EXPECT_EQ(m_listing->ranges.size(), c.listingsAfterShowing);
        EXPECT_EQ(store().refreshState(), RefreshState::loaded);
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
        load({PortEntry(10, 3000, "node")});
        EXPECT_EQ(textsOf(&view()).sliced(4), (QStringList{c.footer, "Ctrl+R"}));
    }
    // A pass after the first load marks the footer, which says nothing new.
    auto *footer = view().findChild<PopoverFooterView *>();
    ASSERT_TRUE(footer);
    m_listing->held = true;
    startMainThreadTask([this] { return store().refresh(); });
    drainEvents();
    EXPECT_TRUE(footer->isBusy());
    EXPECT_EQ(textsOf(&view()).sliced(4), (QStringList{"Last updated just now", "Ctrl+R"}));
    m_listing->pending.complete(QList<PortEntry>{});
    drainEvents();
    EXPECT_FALSE(footer->isBusy());
}

// A failed pass is never shown as an empty list: without rows it is the error view, over kept rows
// the footer. Both carry their text to a screen reader; a later success takes them away.
TEST_F(PopoverViewTest, AFailedUpdateIsSaidInTheListOrTheFooter) {
    const QList<PortEntry> one{PortEntry(10, 3000, "node")};
    const ListingError timedOut{ListingFailure::timedOut, "/usr/bin/lsof"};
    const struct {
        const char *name;
        QList<PortListingResult> passes;
        QStringList texts;
        bool errorView;
        bool redFooter;
    } cases[] = {
        {"never listed",
         {lsofMissing},
         {"Can't list ports", "lsof was not found at /usr/bin/lsof. Install the lsof package.",
          "Press Ctrl+R to try again"},
         true,
         false},
        {"rows kept",
         {one, lsofMissing},
         {"PORT", "PROCESS", "3000", "node", "Update failed: lsof not found", "Ctrl+R"},
         false,
         true},
        {"an empty list kept",
         {QList<PortEntry>{}, timedOut},
         {"Can't list ports",
          "lsof did not answer in time and was stopped. A stalled network mount can cause this; try again.",
          "Press Ctrl+R to try again", "Update failed: timed out", "Ctrl+R"},
         true,
         true},
        {"a later success",
         {lsofMissing, one},
         {"PORT", "PROCESS", "3000", "node", "Last updated just now", "Ctrl+R"},
         false,
         false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        for (const PortListingResult &pass : c.passes) {
            m_listing->answer = pass;
            QCoro::waitFor(store().refresh());
        }
        view().show();
        drainEvents();
        EXPECT_EQ(textsOf(&view()), c.texts);

        QWidget *errorView = find("list-error");
        EXPECT_EQ(errorView != nullptr, c.errorView);
        if (errorView) {
            EXPECT_EQ(spoken(errorView, QAccessible::Name), "Can't list ports");
            EXPECT_EQ(spoken(errorView, QAccessible::Description), c.texts.value(1));
            auto *description = view().findChild<QLabel *>("list-error-description");
            ASSERT_TRUE(description);
            EXPECT_GE(description->height(), description->heightForWidth(description->width()))
                << "the whole reason is shown, wrapped";
        }
        if (auto *status = view().findChild<TextLabel *>("footer-status")) {
            EXPECT_EQ(status->tone() == TextTone::red, c.redFooter);
            EXPECT_EQ(spoken(status, QAccessible::Name), c.texts.value(c.texts.size() - 2));
        }
        EXPECT_FALSE(textsOf(&view()).contains("No active ports"));
    }
}

} // namespace
