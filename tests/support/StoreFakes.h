#pragma once

#include "model/AdministratorStopping.h"
#include "model/PortListing.h"
#include "model/PortStore.h"
#include "model/ProcessKilling.h"
#include "model/WorkingDirectoryResolving.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QHash>

#include <chrono>

namespace quaystone::test {

// Fakes of the store's three services, shared by the store, view and controller tests.

// Lists either a fixed answer at once, or, while `held` is true, waits for the test.
class FakeListing : public PortListing {
public:
    QCoro::Task<PortListingResult> listPorts(PortRange range) override {
        ranges.append(range);
        if (held)
            co_return co_await pending.next();
        // A copy: QCoro 0.8 moves from an lvalue handed to co_return.
        co_return PortListingResult(answer);
    }

    bool held = false;
    PortListingResult answer = QList<PortEntry>{};
    PendingCalls<PortListingResult> pending;
    QList<PortRange> ranges;
};

class FakeResolver : public WorkingDirectoryResolving {
public:
    QCoro::Task<ProcessDetails> resolve(qint32 pid) override {
        pids.append(pid);
        // Spent busily, without suspending, as the real resolver's reads of /proc are.
        QElapsedTimer spent;
        spent.start();
        while (std::chrono::nanoseconds(spent.nsecsElapsed()) < cost) {
        }
        ProcessDetails read = detailsOf(pid);
        // Awaited in a statement of its own: GCC 12 miscompiles co_await inside a braced initialiser.
        if (held)
            read.workingDirectory = co_await pending.next();
        co_return read;
    }

    ProcessDetails detailsOf(qint32 pid) const {
        ProcessDetails read;
        if (const auto it = details.constFind(pid); it != details.cend())
            read = *it;
        // Not value(pid, std::nullopt): GCC 12 with sanitizers warns that the empty default's
        // string may be read uninitialised.
        if (const auto it = directories.constFind(pid); !read.workingDirectory && it != directories.cend())
            read.workingDirectory = *it;
        if (startTimes.contains(pid))
            read.startTime = startTimes.value(pid);
        return read;
    }

    bool held = false;
    std::chrono::microseconds cost{0};
    QHash<qint32, std::optional<QString>> directories;
    QHash<qint32, quint64> startTimes;
    // Everything else that is read of a process; a directory here wins over `directories`.
    QHash<qint32, ProcessDetails> details;
    PendingCalls<std::optional<QString>> pending;
    QList<qint32> pids;
};

// While `held` (the default), waits for the test to decide the outcome; otherwise answers
// `outcome` at once.
class FakeKiller : public ProcessKilling {
public:
    QCoro::Task<ProcessKillOutcome> kill(qint32 pid, std::optional<quint64> startTime) override {
        pids.append(pid);
        startTimes.append(startTime);
        if (held)
            co_return co_await pending.next();
        co_return ProcessKillOutcome(outcome);
    }

    bool held = true;
    ProcessKillOutcome outcome = ProcessKillOutcome::killed;
    PendingCalls<ProcessKillOutcome> pending;
    QList<qint32> pids;
    QList<std::optional<quint64>> startTimes;
};

// While `held` (the default), waits for the test to decide the outcome; otherwise answers
// `outcome` at once.
class FakeAdministratorStopper : public AdministratorStopping {
public:
    QCoro::Task<AdministratorStopResult> stop(qint64 port, quint32 uid) override {
        ports.append(port);
        uids.append(uid);
        // Not a braced list around the co_await: GCC 12 miscompiles that.
        AdministratorStopResult result;
        result.outcome = held ? co_await pending.next() : outcome;
        result.processes = processes;
        co_return result;
    }

    bool held = true;
    AdministratorStopOutcome outcome = AdministratorStopOutcome::stopped;
    PendingCalls<AdministratorStopOutcome> pending;
    QList<qint64> ports;
    QList<quint32> uids;
    QList<AdministratorStoppedProcess> processes; // what every stop reports
};

// Handles on the fakes of a store built by storeOverFakes, for the test to steer.
struct FakeServices {
    FakeListing *listing = nullptr;
    FakeResolver *resolver = nullptr;
    FakeKiller *killer = nullptr;
    FakeAdministratorStopper *administratorStopper = nullptr;
};

inline std::unique_ptr<PortStore> storeOverFakes(FakeServices &fakes, PortStore::Clock clock = PortStore::systemNow) {
    auto listing = std::make_unique<FakeListing>();
    auto resolver = std::make_unique<FakeResolver>();
    auto killer = std::make_unique<FakeKiller>();
    auto stopper = std::make_unique<FakeAdministratorStopper>();
    fakes = {listing.get(), resolver.get(), killer.get(), stopper.get()};
    auto store = std::make_unique<PortStore>(std::move(listing), std::move(resolver), std::move(killer),
                                             PortStore::defaultRange, std::move(clock));
    store->setAdministratorStopper(std::move(stopper));
    return store;
}

} // namespace quaystone::test
