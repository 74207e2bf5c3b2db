#include "PortStore.h"

#include "model/AdministratorStopping.h"
#include "model/BackgroundRelease.h"
#include "model/ContainerStopping.h"
#include "model/DisplayText.h"
#include "model/PortListing.h"
#include "model/ProcessKilling.h"
#include "model/ServiceStopping.h"
#include "model/WorkingDirectoryResolving.h"

#include <QHash>
#include <qcoro/qcorotimer.h>

#include <QElapsedTimer>

#include <algorithm>
#include <optional>
#include <tuple>

namespace quaystone {

namespace {

qsizetype indexOf(const QList<PortEntry> &list, const PortEntryID &id) {
    const auto it = std::find_if(list.cbegin(), list.cend(), [&](const PortEntry &e) { return e.id() == id; });
    return it == list.cend() ? -1 : it - list.cbegin();
}

bool contains(const QList<PortEntry> &list, const PortEntryID &id) {
    return indexOf(list, id) >= 0;
}

// The longest stretch of per-row reads between two visits of the event loop: well inside a frame.
constexpr std::chrono::milliseconds resolutionSlice{4};

auto orderKey(const PortEntryID &id) {
    return std::tuple(id.port, id.pid, id.ownerUid);
}

// Whether a list holds an id, for lists of any length. Passes and kills publish lists in display
// order, where a binary search finds an id without building anything; a list out of that order (a
// seeded one) is hashed, once, the first time the search misses.
class IdLookup {
public:
    explicit IdLookup(const QList<PortEntry> &list)
        : m_list(list) {}

    bool contains(const PortEntryID &id) const {
        // On a list out of order the search may miss an id that is there, but never finds one that is not.
        const auto it = std::lower_bound(m_list.cbegin(), m_list.cend(), orderKey(id),
                                         [](const PortEntry &e, const auto &key) { return orderKey(e.id()) < key; });
        if (it != m_list.cend() && it->id() == id)
            return true;
        if (!m_sorted)
            m_sorted = std::is_sorted(m_list.cbegin(), m_list.cend(), displayOrderLess);
        if (*m_sorted)
            return false;
        if (m_ids.isEmpty()) {
            m_ids.reserve(m_list.size());
            for (const PortEntry &entry : m_list)
                m_ids.insert(entry.id());
        }
        return m_ids.contains(id);
    }

private:
    const QList<PortEntry> &m_list;
    mutable std::optional<bool> m_sorted;
    mutable QSet<PortEntryID> m_ids;
};

RowError rowErrorFor(ProcessKillOutcome outcome) {
    return outcome == ProcessKillOutcome::permissionDenied ? RowError::permissionDenied : RowError::couldNotKill;
}

std::optional<RowError> rowErrorFor(AdministratorStopOutcome outcome) {
    switch (outcome) {
    case AdministratorStopOutcome::notAuthorized:
        return RowError::notAuthorized;
    case AdministratorStopOutcome::unavailable:
        return RowError::administratorStopUnavailable;
    case AdministratorStopOutcome::failed:
        return RowError::couldNotKill;
    case AdministratorStopOutcome::stopped:
    case AdministratorStopOutcome::noListener:
    case AdministratorStopOutcome::cancelled:
        break;
    }
    return std::nullopt;
}

} // namespace

PortStore::TimePoint PortStore::systemNow() {
    return std::chrono::system_clock::now();
}

PortStore::PortStore(std::unique_ptr<PortListing> listingService,
                     std::unique_ptr<WorkingDirectoryResolving> workingDirectoryResolver,
                     std::unique_ptr<ProcessKilling> processKiller, PortRange range, Clock now, QObject *parent)
    : QObject(parent)
    , m_listingService(std::move(listingService))
    , m_workingDirectoryResolver(std::move(workingDirectoryResolver))
    , m_processKiller(std::move(processKiller))
    , m_range(range)
    , m_now(std::move(now)) {}

PortStore::~PortStore() = default;

void PortStore::setAdministratorStopper(std::unique_ptr<AdministratorStopping> stopper) {
    m_administratorStopper = std::move(stopper);
}

void PortStore::setSelectedEntryID(std::optional<PortEntryID> id) {
    m_selectedEntryID = id;
    Q_EMIT changed();
}

void PortStore::setEntries(QList<PortEntry> entries) {
    std::swap(m_entries, entries);
    releaseInBackground(std::move(entries));
    Q_EMIT changed();
}

void PortStore::setRefreshState(RefreshState state) {
    m_refreshState = state;
    Q_EMIT changed();
}

void PortStore::setLastUpdatedAt(TimePoint time) {
    m_lastUpdatedAt = time;
    Q_EMIT changed();
}

void PortStore::setRefreshFailure(std::optional<ListingError> failure) {
    m_refreshFailure = std::move(failure);
    Q_EMIT changed();
}

std::optional<RowError> PortStore::rowError(const PortEntryID &id) const {
    for (const RowErrorRecord &record : m_rowErrors) {
        if (record.id == id)
            return record.error;
    }
    return std::nullopt;
}

QString PortStore::rowErrorDetail(const PortEntryID &id) const {
    for (const RowErrorRecord &record : m_rowErrors) {
        if (record.id == id)
            return record.detail;
    }
    return {};
}

void PortStore::setContainerStopper(std::unique_ptr<ContainerStopping> containerStopper) {
    m_containerStopper = std::move(containerStopper);
}

void PortStore::setServiceStopper(std::unique_ptr<ServiceStopping> serviceStopper) {
    m_serviceStopper = std::move(serviceStopper);
}

bool PortStore::stopsThroughService(const PortEntry &entry) const {
    return m_serviceStopper && entry.service() && isStoppableHere(*entry.service());
}

bool PortStore::isSuppressed(const PortEntry &entry) const {
    return m_suppressedPIDs.contains(entry.pid()) ||
           (entry.container() && m_suppressedContainers.contains(entry.container()->id)) ||
           (entry.service() && m_suppressedServices.contains(entry.service()->name));
}

QCoro::Task<> PortStore::refresh() {
    if (m_isRefreshing) {
        m_pendingRefresh = true;
        co_return;
    }
    m_isRefreshing = true;
    m_pendingRefresh = false;
    // Published: the views mark an update that runs.
    Q_EMIT changed();
    do {
        m_pendingRefresh = false;
        co_await performRefresh();
    } while (m_pendingRefresh);
    m_isRefreshing = false;
    Q_EMIT changed();
}

QCoro::Task<> PortStore::performRefresh() {
    if (!m_lastUpdatedAt)
        setRefreshState(RefreshState::loadingInitial);

    const quint64 listingStart = ++m_sequence;
    PortListingResult listing = co_await m_listingService->listPorts(m_range);
    if (!listing) {
        setRefreshFailure(listing.error());
        if (!m_lastUpdatedAt)
            setRefreshState(RefreshState::idle);
        co_return;
    }

    QList<PortEntry> previous = m_entries;
    QList<PortEntry> resolved = co_await resolveWorkingDirectories(std::move(listing).value());

    // Suppression is read now, at publishing: a kill may have started during resolution.
    resolved.removeIf([&](const PortEntry &e) {
        return isSuppressed(e) || isStoppedSince(e, listingStart) ||
               m_freedPorts.value({e.port(), e.id().ownerUid}, 0) > listingStart;
    });
    // Every later listing begins after these outcomes, so they hide nothing any more.
    m_stoppedProcesses.removeIf([&](const StoppedProcess &p) { return p.outcomeSequence < listingStart; });
    m_freedPorts.removeIf([&](const auto &freed) { return freed.value() < listingStart; });
    // Before the list is announced: whoever hears of it reads the errors with it.
    dropRowErrorsOfGoneProcesses(resolved);
    setEntries(std::move(resolved));
    reconcileSelection(previous, m_entries);
    releaseInBackground(std::move(previous));
    setLastUpdatedAt(m_now());
    if (m_refreshFailure)
        setRefreshFailure(std::nullopt);
    setRefreshState(RefreshState::loaded);
}

bool PortStore::isStoppedSince(const PortEntry &entry, quint64 listingStart) const {
    // A row whose start time could not be read is most likely the stopped process, read after
    // it ended; one with another start time is a new process that was given the same pid.
    return std::any_of(m_stoppedProcesses.cbegin(), m_stoppedProcesses.cend(), [&](const StoppedProcess &p) {
        return p.pid == entry.pid() && p.outcomeSequence > listingStart &&
               (!p.startTime || !entry.startTime() || p.startTime == entry.startTime());
    });
}

QCoro::Task<QList<PortEntry>> PortStore::resolveWorkingDirectories(QList<PortEntry> listing) {
    QList<PortEntry> result;
    result.reserve(listing.size());
    // A process is read once per pass however many ports it holds: a server on thousands of
    // ports would otherwise cost thousands of identical reads.
    QHash<qint32, ProcessDetails> read;
    // The default resolver answers without suspending, so thousands of rows would hold the
    // event loop for a visible moment; hand it back now and then so the popup keeps painting.
    QElapsedTimer slice;
    slice.start();
    for (const PortEntry &entry : listing) {
        if (!entry.hasProcess()) {
            result.append(entry);
        } else if (const auto known = read.constFind(entry.pid()); known != read.cend()) {
            result.append(entry.withDetails(*known));
        } else {
            // Awaited in a statement of its own: GCC 12 miscompiles co_await inside a conditional expression.
            ProcessDetails details = co_await m_workingDirectoryResolver->resolve(entry.pid());
            read.insert(entry.pid(), details);
            result.append(entry.withDetails(std::move(details)));
        }
        if (std::chrono::nanoseconds(slice.nsecsElapsed()) >= resolutionSlice) {
            co_await QCoro::sleepFor(std::chrono::milliseconds(0));
            slice.restart();
        }
    }
    releaseInBackground(std::move(listing));
    co_return result;
}

void PortStore::reconcileSelection(const QList<PortEntry> &previous, const QList<PortEntry> &current) {
    if (current.isEmpty()) {
        setSelectedEntryID(std::nullopt);
        return;
    }
    if (!m_selectedEntryID) {
        if (previous.isEmpty())
            setSelectedEntryID(current.first().id());
        return;
    }
    const IdLookup currentIDs(current);
    if (currentIDs.contains(*m_selectedEntryID))
        return;

    const qsizetype i = indexOf(previous, *m_selectedEntryID);
    if (i < 0) {
        setSelectedEntryID(std::nullopt);
        return;
    }
    // Nearest surviving follower in the old order, else the nearest surviving predecessor.
    for (qsizetype j = i + 1; j < previous.size(); ++j) {
        if (currentIDs.contains(previous[j].id())) {
            setSelectedEntryID(previous[j].id());
            return;
        }
    }
    for (qsizetype j = i - 1; j >= 0; --j) {
        if (currentIDs.contains(previous[j].id())) {
            setSelectedEntryID(previous[j].id());
            return;
        }
    }
    setSelectedEntryID(std::nullopt);
}

QList<PortEntry> PortStore::takeRows(const std::function<bool(const PortEntry &)> &taken) {
    QList<PortEntry> affected;
    QList<PortEntry> remaining;
    for (const PortEntry &entry : std::as_const(m_entries))
        (taken(entry) ? affected : remaining).append(entry);
    // The selection goes where a refresh would take it: to the row that takes the stopped one's
    // place, under the pointer and in view, so that a second press acts on what the user sees.
    const QList<PortEntry> previous = m_entries;
    setEntries(remaining);
    reconcileSelection(previous, m_entries);
    return affected;
}

void PortStore::clearRowErrors(const QList<PortEntry> &rows) {
    m_rowErrors.removeIf([&](const RowErrorRecord &r) { return contains(rows, r.id); });
}

void PortStore::recordRowError(const PortEntry &row, RowError error, const QString &detail) {
    m_rowErrors.removeIf([&](const RowErrorRecord &r) { return r.id == row.id(); });
    m_rowErrors.append({row.id(), error, detail, row.startTime()});
}

void PortStore::dropRowErrorsOfGoneProcesses(const QList<PortEntry> &listed) {
    if (m_rowErrors.isEmpty())
        return;
    QHash<PortEntryID, std::optional<quint64>> startTimes;
    for (const PortEntry &entry : listed)
        startTimes.insert(entry.id(), entry.startTime());
    m_rowErrors.removeIf([&](const RowErrorRecord &r) {
        const auto listedRow = startTimes.constFind(r.id);
        return listedRow == startTimes.cend() || *listedRow != r.startTime;
    });
}

void PortStore::putBackWithError(const QList<PortEntry> &rows, RowError error, const QString &detail) {
    // Errors are recorded before the rows come back, so the render that the put-back announces
    // already shows them.
    for (const PortEntry &entry : rows)
        recordRowError(entry, error, detail);
    QList<PortEntry> restored = m_entries + rows;
    std::stable_sort(restored.begin(), restored.end(), displayOrderLess);
    setEntries(std::move(restored));
}

QCoro::Task<> PortStore::kill(PortEntryID id) {
    const qsizetype index = indexOf(m_entries, id);
    if (index < 0)
        co_return;
    // A container's row has no process of its own: its engine stops it.
    if (m_entries.at(index).container()) {
        co_await stopContainer(m_entries.at(index));
        co_return;
    }
    // Its manager would start a signalled process again; the unit is what stops it.
    if (stopsThroughService(m_entries.at(index))) {
        co_await stopService(m_entries.at(index));
        co_return;
    }
    if (isContainerProxyName(m_entries.at(index).processName())) {
        refuseProxyKill(m_entries.at(index));
        co_return;
    }
    if (!m_entries.at(index).hasProcess()) {
        // pid 0 is no process: signalling it would reach a whole process group.
        co_await stopAsAdministrator(id);
        co_return;
    }
    const qint32 pid = m_entries.at(index).pid();
    const std::optional<quint64> startTime = m_entries.at(index).startTime();

    m_suppressedPIDs.insert(pid);
    const QList<PortEntry> affected = takeRows([pid](const PortEntry &e) { return e.pid() == pid; });

    const ProcessKillOutcome outcome = co_await m_processKiller->kill(pid, startTime);

    if (outcome == ProcessKillOutcome::permissionDenied || outcome == ProcessKillOutcome::failed) {
        putBackWithError(affected, rowErrorFor(outcome));
    } else {
        clearRowErrors(affected);
        m_stoppedProcesses.append({pid, startTime, ++m_sequence});
    }
    m_suppressedPIDs.remove(pid);

    co_await refresh();
}

QCoro::Task<> PortStore::stopAsAdministrator(PortEntryID id) {
    const qsizetype index = indexOf(m_entries, id);
    if (index < 0 || m_entries.at(index).hasProcess() || m_entries.at(index).container())
        co_return;
    const qint64 port = id.port;
    if (m_administratorStopPorts.contains(port))
        co_return;
    m_administratorStopPorts.insert(port);

    // The helper stops only the processes of the row's user, on the row's port.
    const qint64 uid = id.ownerUid;
    AdministratorStopResult result{AdministratorStopOutcome::unavailable, {}};
    if (m_administratorStopper && uid >= 0 && uid <= 0xFFFFFFFE)
        result = co_await m_administratorStopper->stop(port, quint32(uid));
    m_administratorStopPorts.remove(port);
    // Member by member: GCC 12 mishandles a braced list of non-trivial values in a coroutine.
    m_lastAdministratorStop.sequence = ++m_sequence;
    m_lastAdministratorStop.port = port;
    m_lastAdministratorStop.processes = result.processes;

    const auto isRowOfStop = [port, uid](const PortEntry &e) {
        return e.port() == port && !e.hasProcess() && e.id().ownerUid == uid;
    };
    if (result.outcome == AdministratorStopOutcome::stopped || result.outcome == AdministratorStopOutcome::noListener) {
        m_rowErrors.removeIf([&](const RowErrorRecord &r) { return r.id.port == port && r.id.ownerUid == uid; });
        m_freedPorts.insert({port, uid}, ++m_sequence);
        const QList<PortEntry> previous = m_entries;
        QList<PortEntry> remaining = m_entries;
        remaining.removeIf(isRowOfStop);
        setEntries(std::move(remaining));
        reconcileSelection(previous, m_entries);
    } else if (const std::optional<RowError> error = rowErrorFor(result.outcome)) {
        // What the helper could not stop, as it said: "python3 (pid 812): still running after SIGKILL".
        QStringList failures;
        for (const AdministratorStoppedProcess &process : std::as_const(result.processes)) {
            if (!process.failure.isEmpty())
                failures.append(
                    tr("%1 (pid %2): %3")
                        .arg(displayText(process.name), QString::number(process.pid), displayText(process.failure)));
        }
        for (const PortEntry &entry : std::as_const(m_entries)) {
            if (isRowOfStop(entry))
                recordRowError(entry, *error, failures.join(QStringLiteral("; ")));
        }
        // Announces the errors; the rows themselves are unchanged.
        setEntries(m_entries);
    }

    co_await refresh();
}

// Stopping a container takes down every port it publishes, so all its rows go at once, as a
// process's rows do on a kill; a refusal brings them back with the engine's message.
QCoro::Task<> PortStore::stopContainer(PortEntry row) {
    const ContainerInfo container = *row.container();
    m_suppressedContainers.insert(container.id);
    const QList<PortEntry> affected = takeRows([&](const PortEntry &e) {
        return e.container() && e.container()->id == container.id &&
               e.container()->engineSocket == container.engineSocket;
    });

    ContainerStopResult result{ContainerStopOutcome::refused, tr("no container engine is set up")};
    if (m_containerStopper)
        result = co_await m_containerStopper->stop(container);

    if (result.outcome == ContainerStopOutcome::refused)
        putBackWithError(affected, RowError::couldNotStopContainer, result.message);
    else
        clearRowErrors(affected);
    m_suppressedContainers.remove(container.id);

    co_await refresh();
}

// Every row of the unit goes at once, as a container's do; a refusal brings them back.
QCoro::Task<> PortStore::stopService(PortEntry row) {
    const ServiceUnit unit = *row.service();
    m_suppressedServices.insert(unit.name);
    const QList<PortEntry> affected = takeRows([&](const PortEntry &e) { return e.service() == unit; });

    const ServiceStopResult result = co_await m_serviceStopper->stop(unit);
    if (result.outcome == ServiceStopOutcome::notAuthorized)
        putBackWithError(affected, RowError::notAuthorized);
    else if (result.outcome == ServiceStopOutcome::failed)
        putBackWithError(affected, RowError::couldNotStopService, result.message);
    else
        clearRowErrors(affected);
    m_suppressedServices.remove(unit.name);

    co_await refresh();
}

// A proxy is never signalled: its container would keep running with its port cut off. The row
// says so instead, and nothing else changes.
void PortStore::refuseProxyKill(const PortEntry &row) {
    for (const PortEntry &entry : std::as_const(m_entries)) {
        if (entry.pid() == row.pid() && entry.id().ownerUid == row.id().ownerUid)
            recordRowError(entry, RowError::containerProxy);
    }
    // The errors are not announced by themselves; this assignment makes the views show them.
    setEntries(m_entries);
}

void PortStore::moveSelection(int step) {
    if (m_entries.isEmpty())
        return;
    const qsizetype i = m_selectedEntryID ? indexOf(m_entries, *m_selectedEntryID) : -1;
    if (i < 0) {
        setSelectedEntryID(m_entries.first().id());
        return;
    }
    const qsizetype target = std::clamp<qsizetype>(i + step, 0, m_entries.size() - 1);
    setSelectedEntryID(m_entries.at(target).id());
}

void PortStore::selectPrevious() {
    moveSelection(-1);
}

void PortStore::selectNext() {
    moveSelection(+1);
}

void PortStore::seedEntries(QList<PortEntry> entries) {
    setEntries(std::move(entries));
    if (!m_selectedEntryID)
        setSelectedEntryID(m_entries.isEmpty() ? std::nullopt : std::optional(m_entries.first().id()));
}

} // namespace quaystone
