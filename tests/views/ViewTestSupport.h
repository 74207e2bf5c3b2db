#pragma once

#include "discovery/PortListing.h"
#include "discovery/WorkingDirectoryResolving.h"
#include "model/MainThreadTask.h"
#include "model/PortStore.h"
#include "support/TestSupport.h"
#include "termination/ProcessKilling.h"
#include "views/PopoverRootView.h"
#include "views/PortListView.h"
#include "views/PortRowView.h"
#include "views/TextLabel.h"

#include <QLayout>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <ostream>

// Readable strings in failure messages.
inline void PrintTo(const QString &text, std::ostream *os) {
    *os << '"' << text.toStdString() << '"';
}

namespace quaystone::test {

// Answers at once with `answer`, or, while `held`, when the test completes the call.
class FakeListing : public PortListing {
public:
    QCoro::Task<PortListingResult> listPorts(PortRange) override {
        ++calls;
        if (held)
            co_return co_await pending.next();
        // A copy: QCoro 0.8 moves from an lvalue handed to co_return.
        co_return PortListingResult(answer);
    }

    bool held = false;
    PortListingResult answer = QList<PortEntry>{};
    PendingCalls<PortListingResult> pending;
    int calls = 0;
};

class NoDirectoryResolver : public WorkingDirectoryResolving {
public:
    QCoro::Task<std::optional<QString>> resolve(qint32) override { co_return std::nullopt; }
};

class FakeKiller : public ProcessKilling {
public:
    QCoro::Task<ProcessKillOutcome> kill(qint32 pid) override {
        pids.append(pid);
        co_return outcome;
    }

    ProcessKillOutcome outcome = ProcessKillOutcome::killed;
    QList<qint32> pids;
};

inline PortEntry entry(qint32 pid, qint64 port, QString name, std::optional<QString> directory = std::nullopt) {
    return PortEntry(pid, port, std::move(name), std::move(directory));
}

// The texts of a view tree in reading order: layouts in order, list rows from the top.
inline void collectTexts(QWidget *widget, QStringList &texts);

inline void collectTexts(QLayout *layout, QStringList &texts) {
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (item->widget())
            collectTexts(item->widget(), texts);
        else if (item->layout())
            collectTexts(item->layout(), texts);
    }
}

inline void collectTexts(QWidget *widget, QStringList &texts) {
    if (auto *label = qobject_cast<TextLabel *>(widget)) {
        texts.append(label->text());
    } else if (auto *list = qobject_cast<PortListView *>(widget)) {
        QList<PortRowView *> rows = list->findChildren<PortRowView *>();
        std::sort(rows.begin(), rows.end(), [](auto *a, auto *b) { return a->y() < b->y(); });
        for (PortRowView *row : rows)
            collectTexts(row, texts);
    } else if (widget->layout()) {
        collectTexts(widget->layout(), texts);
    }
}

inline QStringList textsOf(QWidget *widget) {
    QStringList texts;
    collectTexts(widget, texts);
    return texts;
}

// A store over small fakes, and the popover's root view over it. The clock reads the real
// time shifted by `clockOffset`, since the footer compares with the real time.
class PopoverViewTest : public ::testing::Test {
public:
    PopoverViewTest() { reset(); }
    ~PopoverViewTest() override { drainEvents(); }

    void reset(PortStore::Clock clock = {}) {
        m_view.reset();
        m_store.reset();
        auto listing = std::make_unique<FakeListing>();
        auto killer = std::make_unique<FakeKiller>();
        m_listing = listing.get();
        m_killer = killer.get();
        if (!clock)
            clock = [this] { return std::chrono::system_clock::now() - clockOffset; };
        m_store = std::make_unique<PortStore>(std::move(listing), std::make_unique<NoDirectoryResolver>(),
                                              std::move(killer), PortStore::defaultRange, std::move(clock));
        m_view = std::make_unique<PopoverRootView>(*m_store);
    }

    // A completed refresh that lists `entries`; seeding them again keeps their directories,
    // which the fake resolver drops.
    void load(QList<PortEntry> entries) {
        m_listing->answer = entries;
        auto task = m_store->refresh();
        // Long lists hand the event loop back while their directories are read.
        ASSERT_TRUE(spinUntil([&] { return task.isReady(); }));
        m_store->seedEntries(std::move(entries));
        drainEvents();
    }

    void showView() {
        m_view->show();
        drainEvents();
    }

    template <typename T = QWidget>
    T *find(const QString &name) {
        return m_view->findChild<T *>(name);
    }

    PortRowView *rowOf(qint64 port) {
        QWidget *button = find(QStringLiteral("port-row-%1").arg(port));
        return button ? qobject_cast<PortRowView *>(button->parentWidget()) : nullptr;
    }

    PortStore &store() { return *m_store; }
    PopoverRootView &view() { return *m_view; }

    std::chrono::milliseconds clockOffset{0};
    FakeListing *m_listing = nullptr;
    FakeKiller *m_killer = nullptr;
    std::unique_ptr<PortStore> m_store;
    std::unique_ptr<PopoverRootView> m_view;
};

} // namespace quaystone::test
