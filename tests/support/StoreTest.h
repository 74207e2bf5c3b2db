#pragma once

#include "support/StoreFakes.h"

#include <gtest/gtest.h>

#include <chrono>

namespace quaystone::test {

inline QList<qint64> portsOf(const QList<PortEntry> &entries) {
    QList<qint64> result;
    for (const PortEntry &e : entries)
        result.append(e.port());
    return result;
}

// A store over fresh fakes and a clock the test sets, for the store's own tests.
class StoreTest : public ::testing::Test {
protected:
    StoreTest() { reset(); }

    // A fresh store over fresh fakes, for table cases that each need a clean start.
    void reset() {
        m_store.reset();
        FakeServices fakes;
        m_store = storeOverFakes(fakes, [this] { return m_clock; });
        m_listing = fakes.listing;
        m_resolver = fakes.resolver;
        m_killer = fakes.killer;
        m_administratorStopper = fakes.administratorStopper;
    }

    // One complete refresh in which the listing answers `rows` at once.
    void refreshWith(QList<PortEntry> rows) {
        m_listing->held = false;
        m_listing->answer = std::move(rows);
        auto task = m_store->refresh();
        ASSERT_TRUE(task.isReady());
    }

    PortStore &store() { return *m_store; }

    FakeListing *m_listing = nullptr;
    FakeResolver *m_resolver = nullptr;
    FakeKiller *m_killer = nullptr;
    FakeAdministratorStopper *m_administratorStopper = nullptr;
    PortStore::TimePoint m_clock = PortStore::TimePoint(std::chrono::seconds(1000));
    std::unique_ptr<PortStore> m_store;
};

} // namespace quaystone::test
