#pragma once

#include "PortEntry.h"
#include "PortRange.h"
#include "RefreshState.h"
#include "RowError.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace quaystone {

class PortListing;
class WorkingDirectoryResolving;
class ProcessKilling;
class ContainerStopping;

// The single owner of the listed ports. Lives on the main thread; its coroutines give the
// thread up only while they await a service, and its invariants hold at each such point.
class PortStore : public QObject {
    Q_OBJECT

public:
    using TimePoint = std::chrono::system_clock::time_point;
    using Clock = std::function<TimePoint()>;

    struct RowErrorRecord {
        PortEntryID id;
        RowError error;
        // What the error line adds after its fixed text: the engine's word on a refused stop.
        QString detail;
        friend bool operator==(const RowErrorRecord &, const RowErrorRecord &) = default;
    };

    static constexpr PortRange defaultRange{3000, 9999};
    static TimePoint systemNow();

    PortStore(std::unique_ptr<PortListing> listingService,
              std::unique_ptr<WorkingDirectoryResolving> workingDirectoryResolver,
              std::unique_ptr<ProcessKilling> processKiller, PortRange range = defaultRange, Clock now = systemNow,
              QObject *parent = nullptr);
    ~PortStore() override;

    // Observed state: every assignment emits changed(), whether or not the value changed.
    const QList<PortEntry> &entries() const { return m_entries; }
    RefreshState refreshState() const { return m_refreshState; }
    std::optional<TimePoint> lastUpdatedAt() const { return m_lastUpdatedAt; }
    std::optional<PortEntryID> selectedEntryID() const { return m_selectedEntryID; }
    // The views select a row by assigning its id; it is not checked against the list.
    void setSelectedEntryID(std::optional<PortEntryID> id);

    // Not announced by itself: changes land in the same turn as an announced change.
    const QList<RowErrorRecord> &rowErrors() const { return m_rowErrors; }
    std::optional<RowError> rowError(const PortEntryID &id) const;
    QString rowErrorDetail(const PortEntryID &id) const;

    // Container rows are stopped through their engine. Optional: without it, their stop fails
    // with a row error.
    void setContainerStopper(std::unique_ptr<ContainerStopping> containerStopper);

    PortRange range() const { return m_range; }
    bool isRefreshing() const { return m_isRefreshing; }
    bool hasPendingRefresh() const { return m_pendingRefresh; }
    const QSet<qint32> &suppressedPIDs() const { return m_suppressedPIDs; }
    const QSet<QString> &suppressedContainers() const { return m_suppressedContainers; }

    // Runs refresh passes until none is owed. A call made while passes run marks one more
    // pass as owed and returns at once.
    QCoro::Task<> refresh();
    // Stops the process behind the row, records the outcome, then refreshes. An id that is
    // not listed is ignored. A container's row stops the container through its engine; a
    // container's port proxy is refused with a row error and never signalled.
    QCoro::Task<> kill(PortEntryID id);

    void selectPrevious();
    void selectNext();
    // Replaces the list without a refresh; selects the first row if nothing is selected.
    void seedEntries(QList<PortEntry> entries);

Q_SIGNALS:
    void changed();

private:
    QCoro::Task<> performRefresh();
    QCoro::Task<QList<PortEntry>> resolveWorkingDirectories(QList<PortEntry> listing);
    void reconcileSelection(const QList<PortEntry> &previous, const QList<PortEntry> &current);
    void moveSelection(int step);
    QCoro::Task<> stopContainer(PortEntry row);
    void refuseProxyKill(const PortEntry &row);
    bool isSuppressed(const PortEntry &entry) const;

    void setEntries(QList<PortEntry> entries);
    void setRefreshState(RefreshState state);
    void setLastUpdatedAt(TimePoint time);

    std::unique_ptr<PortListing> m_listingService;
    std::unique_ptr<WorkingDirectoryResolving> m_workingDirectoryResolver;
    std::unique_ptr<ProcessKilling> m_processKiller;
    std::unique_ptr<ContainerStopping> m_containerStopper;
    const PortRange m_range;
    const Clock m_now;

    bool m_isRefreshing = false;
    bool m_pendingRefresh = false;
    QSet<qint32> m_suppressedPIDs;
    QSet<QString> m_suppressedContainers; // ids of containers whose stop is in progress

    QList<PortEntry> m_entries;
    RefreshState m_refreshState = RefreshState::idle;
    std::optional<TimePoint> m_lastUpdatedAt;
    std::optional<PortEntryID> m_selectedEntryID;
    QList<RowErrorRecord> m_rowErrors;
};

} // namespace quaystone
