#pragma once

#include "AdministratorStopping.h"
#include "KillActionGate.h"
#include "PortEntry.h"
#include "PortListing.h"
#include "PortRange.h"
#include "RefreshState.h"
#include "RowError.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <qcoro/qcorotask.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace quaystone {

class WorkingDirectoryResolving;
class ProcessKilling;
class ContainerStopping;
class ServiceStopping;

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
        // The process it belongs to, with the pid: a new process given the same pid and port
        // does not inherit it.
        std::optional<quint64> startTime;
        friend bool operator==(const RowErrorRecord &, const RowErrorRecord &) = default;
    };

    static constexpr PortRange defaultRange{3000, 9999};
    static TimePoint systemNow();

    PortStore(std::unique_ptr<PortListing> listingService,
              std::unique_ptr<WorkingDirectoryResolving> workingDirectoryResolver,
              std::unique_ptr<ProcessKilling> processKiller, PortRange range = defaultRange, Clock now = systemNow,
              QObject *parent = nullptr);
    ~PortStore() override;

    // Stops listeners of other users; without one, such a stop reports itself unavailable.
    void setAdministratorStopper(std::unique_ptr<AdministratorStopping> stopper);

    // Observed state: every assignment emits changed(), whether or not the value changed.
    const QList<PortEntry> &entries() const { return m_entries; }
    RefreshState refreshState() const { return m_refreshState; }
    std::optional<TimePoint> lastUpdatedAt() const { return m_lastUpdatedAt; }
    std::optional<PortEntryID> selectedEntryID() const { return m_selectedEntryID; }
    // Why the latest pass failed; none once a pass has succeeded (or before any has ended). A
    // failure changes nothing else: the rows and the time of the last success stay.
    const std::optional<ListingError> &refreshFailure() const { return m_refreshFailure; }
    // The views select a row by assigning its id; it is not checked against the list.
    void setSelectedEntryID(std::optional<PortEntryID> id);

    // Not announced by itself: changes land in the same turn as an announced change.
    const QList<RowErrorRecord> &rowErrors() const { return m_rowErrors; }
    std::optional<RowError> rowError(const PortEntryID &id) const;
    QString rowErrorDetail(const PortEntryID &id) const;

    // Container rows are stopped through their engine. Optional: without it, their stop fails
    // with a row error.
    void setContainerStopper(std::unique_ptr<ContainerStopping> containerStopper);

    // Rows of a systemd unit are stopped through their manager. Optional: without it, they are
    // stopped as any other process.
    void setServiceStopper(std::unique_ptr<ServiceStopping> serviceStopper);
    // Whether the row is stopped through its unit's manager: a system unit, or one of this
    // user's own units (another user's manager cannot be asked).
    bool stopsThroughService(const PortEntry &entry) const;

    PortRange range() const { return m_range; }
    // True while passes run; published, like the fields above.
    bool isRefreshing() const { return m_isRefreshing; }
    bool hasPendingRefresh() const { return m_pendingRefresh; }
    const QSet<qint32> &suppressedPIDs() const { return m_suppressedPIDs; }
    const QSet<QString> &suppressedContainers() const { return m_suppressedContainers; }

    // Runs refresh passes until none is owed. A call made while passes run marks one more
    // pass as owed and returns at once.
    QCoro::Task<> refresh();
    // Stops the process behind the row, records the outcome, then refreshes. An id that is
    // not listed is ignored; a row without a process is stopped as administrator. A stopped
    // process's rows stay hidden until a pass whose listing began after the outcome. A
    // container's row stops the container through its engine; a container's port proxy is
    // refused with a row error and never signalled.
    QCoro::Task<> kill(PortEntryID id);
    // For a row of another user's listener: stops the processes of that user listening on its
    // port with administrator rights, records the outcome, then refreshes. The rows stay while the user
    // authenticates; a second request for a port whose stop runs is ignored.
    QCoro::Task<> stopAsAdministrator(PortEntryID id);
    const QSet<qint64> &portsBeingStoppedAsAdministrator() const { return m_administratorStopPorts; }
    // What the latest stop as administrator found on its port; the sequence tells stops apart
    // (0 before any). Not announced by itself, like the row errors.
    struct AdministratorStopRecord {
        quint64 sequence = 0;
        qint64 port = 0;
        QList<AdministratorStoppedProcess> processes;
    };
    const AdministratorStopRecord &lastAdministratorStop() const { return m_lastAdministratorStop; }

    // Shared by every way of asking for a kill (a key, a click on a cross), so that one act stops
    // one process whichever way it comes.
    KillActionGate &killActionGate() { return m_killActionGate; }

    void selectPrevious();
    void selectNext();
    // Moves the selection by step rows, stopping at the first and the last; selects the first
    // row when none is selected.
    void moveSelection(int step);
    // Replaces the list without a refresh; selects the first row if nothing is selected.
    void seedEntries(QList<PortEntry> entries);

Q_SIGNALS:
    void changed();

private:
    QCoro::Task<> performRefresh();
    QCoro::Task<QList<PortEntry>> resolveWorkingDirectories(QList<PortEntry> listing);
    void reconcileSelection(const QList<PortEntry> &previous, const QList<PortEntry> &current);
    QCoro::Task<> stopContainer(PortEntry row);
    QCoro::Task<> stopService(PortEntry row);
    // Removes the rows for which taken holds while they are being stopped, moving the selection
    // off them; returns them.
    QList<PortEntry> takeRows(const std::function<bool(const PortEntry &)> &taken);
    void clearRowErrors(const QList<PortEntry> &rows);
    void recordRowError(const PortEntry &row, RowError error, const QString &detail = {});
    // Drops the errors of processes that a listing no longer shows at their row.
    void dropRowErrorsOfGoneProcesses(const QList<PortEntry> &listed);
    // Puts taken rows back, in display order, each with the error of their failed stop.
    void putBackWithError(const QList<PortEntry> &rows, RowError error, const QString &detail = {});
    void refuseProxyKill(const PortEntry &row);
    bool isSuppressed(const PortEntry &entry) const;

    bool isStoppedSince(const PortEntry &entry, quint64 listingStart) const;

    void setEntries(QList<PortEntry> entries);
    void setRefreshState(RefreshState state);
    void setLastUpdatedAt(TimePoint time);
    void setRefreshFailure(std::optional<ListingError> failure);

    std::unique_ptr<PortListing> m_listingService;
    std::unique_ptr<WorkingDirectoryResolving> m_workingDirectoryResolver;
    std::unique_ptr<ProcessKilling> m_processKiller;
    std::unique_ptr<AdministratorStopping> m_administratorStopper;
    std::unique_ptr<ContainerStopping> m_containerStopper;
    std::unique_ptr<ServiceStopping> m_serviceStopper;
    const PortRange m_range;
    const Clock m_now;

    bool m_isRefreshing = false;
    bool m_pendingRefresh = false;
    QSet<qint32> m_suppressedPIDs;
    QSet<qint64> m_administratorStopPorts;
    AdministratorStopRecord m_lastAdministratorStop;
    // Ports freed of one user's listeners as administrator, as (port, uid), each with the sequence
    // number of the outcome: a pass whose listing began before it may still show the old
    // listeners and must not publish them.
    QHash<std::pair<qint64, qint64>, quint64> m_freedPorts;

    // Orders the start of each listing and the outcome of each kill.
    quint64 m_sequence = 0;
    // A process that a kill stopped or found gone. A listing that began before the outcome may
    // still show it, so its rows are dropped from that listing's pass.
    struct StoppedProcess {
        qint32 pid;
        std::optional<quint64> startTime;
        quint64 outcomeSequence;
    };
    QList<StoppedProcess> m_stoppedProcesses;
    QSet<QString> m_suppressedContainers; // ids of containers whose stop is in progress
    QSet<QString> m_suppressedServices;   // units whose stop is in progress

    QList<PortEntry> m_entries;
    RefreshState m_refreshState = RefreshState::idle;
    std::optional<TimePoint> m_lastUpdatedAt;
    std::optional<PortEntryID> m_selectedEntryID;
    std::optional<ListingError> m_refreshFailure;
    QList<RowErrorRecord> m_rowErrors;
    KillActionGate m_killActionGate;
};

} // namespace quaystone
