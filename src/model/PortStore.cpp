#include "PortStore.h"

#include "model/ContainerStopping.h"
#include "model/PortListing.h"
#include "model/ProcessKilling.h"
#include "model/WorkingDirectoryResolving.h"

#include <qcoro/qcorotimer.h>

#include <algorithm>

namespace quaystone {

namespace {

qsizetype indexOf(const QList<PortEntry> &list, const PortEntryID &id) {
    const auto it = std::find_if(list.cbegin(), list.cend(), [&](const PortEntry &e) { return e.id() == id; });
    return it == list.cend() ? -1 : it - list.cbegin();
}

bool contains(const QList<PortEntry> &list, const PortEntryID &id) {
    return indexOf(list, id) >= 0;
}

// Working-directory reads between two visits of the event loop: about a millisecond's worth.
constexpr qsizetype resolutionSliceRows = 256;

RowError rowErrorFor(ProcessKillOutcome outcome) {
    return outcome == ProcessKillOutcome::permissionDenied ? RowError::permissionDenied : RowError::couldNotKill;
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

void PortStore::setSelectedEntryID(std::optional<PortEntryID> id) {
    m_selectedEntryID = id;
    Q_EMIT changed();
}

void PortStore::setEntries(QList<PortEntry> entries) {
    m_entries = std::move(entries);
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

bool PortStore::isSuppressed(const PortEntry &entry) const {
    return m_suppressedPIDs.contains(entry.pid()) ||
           (entry.container() && m_suppressedContainers.contains(entry.container()->id));
}

QCoro::Task<> PortStore::refresh() {
    if (m_isRefreshing) {
        m_pendingRefresh = true;
        co_return;
    }
    m_isRefreshing = true;
    m_pendingRefresh = false;
    do {
        m_pendingRefresh = false;
        co_await performRefresh();
    } while (m_pendingRefresh);
    m_isRefreshing = false;
}

QCoro::Task<> PortStore::performRefresh() {
    if (!m_lastUpdatedAt)
        setRefreshState(RefreshState::loadingInitial);

    PortListingResult listing = co_await m_listingService->listPorts(m_range);
    if (!listing) {
        if (!m_lastUpdatedAt)
            setRefreshState(RefreshState::idle);
        co_return;
    }

    const QList<PortEntry> previous = m_entries;
    QList<PortEntry> resolved = co_await resolveWorkingDirectories(std::move(listing).value());

    // Suppression is read now, at publishing: a kill may have started during resolution.
    resolved.removeIf([this](const PortEntry &e) { return isSuppressed(e); });
    setEntries(std::move(resolved));
    reconcileSelection(previous, m_entries);
    setLastUpdatedAt(m_now());
    setRefreshState(RefreshState::loaded);
}

QCoro::Task<QList<PortEntry>> PortStore::resolveWorkingDirectories(QList<PortEntry> listing) {
    QList<PortEntry> result;
    result.reserve(listing.size());
    // The default resolver answers without suspending, so thousands of rows would hold the
    // event loop for a visible moment; hand it back now and then so the popup keeps painting.
    for (const PortEntry &entry : listing) {
        if (entry.hasProcess()) {
            // Awaited in a statement of its own: GCC 12 miscompiles co_await inside a conditional expression.
            ProcessDetails details = co_await m_workingDirectoryResolver->resolve(entry.pid());
            result.append(entry.withDetails(std::move(details)));
        } else {
            result.append(entry);
        }
        if (result.size() % resolutionSliceRows == 0)
            co_await QCoro::sleepFor(std::chrono::milliseconds(0));
    }
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
    QSet<PortEntryID> currentIDs;
    currentIDs.reserve(current.size());
    for (const PortEntry &entry : current)
        currentIDs.insert(entry.id());
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

QCoro::Task<> PortStore::kill(PortEntryID id) {
    const qsizetype index = indexOf(m_entries, id);
    if (index < 0)
        co_return;
    if (m_entries[index].container()) {
        co_await stopContainer(m_entries[index]);
        co_return;
    }
    if (isContainerProxyName(m_entries[index].processName())) {
        refuseProxyKill(m_entries[index]);
        co_return;
    }
    const qint32 pid = m_entries[index].pid();
    const std::optional<quint64> startTime = m_entries[index].startTime();

    QList<PortEntry> affected;
    QList<PortEntry> remaining;
    for (const PortEntry &entry : std::as_const(m_entries))
        (entry.pid() == pid ? affected : remaining).append(entry);

    m_suppressedPIDs.insert(pid);
    setEntries(remaining);
    reconcileSelection(affected + remaining, m_entries);

    const ProcessKillOutcome outcome = co_await m_processKiller->kill(pid, startTime);

    const auto clearErrors = [&] {
        m_rowErrors.removeIf([&](const RowErrorRecord &r) { return contains(affected, r.id); });
    };
    if (outcome == ProcessKillOutcome::permissionDenied || outcome == ProcessKillOutcome::failed) {
        // Errors are recorded before the rows come back, so the render that the put-back
        // announces already shows them.
        clearErrors();
        for (const PortEntry &entry : std::as_const(affected))
            m_rowErrors.append({entry.id(), rowErrorFor(outcome), {}});
        QList<PortEntry> restored = m_entries + affected;
        std::stable_sort(restored.begin(), restored.end(), displayOrderLess);
        setEntries(std::move(restored));
    } else {
        clearErrors();
    }
    m_suppressedPIDs.remove(pid);

    co_await refresh();
}

// Stopping a container takes down every port it publishes, so all its rows go at once, as a
// process's rows do on a kill; a refusal brings them back with the engine's message.
QCoro::Task<> PortStore::stopContainer(PortEntry row) {
    const ContainerInfo container = *row.container();
    QList<PortEntry> affected;
    QList<PortEntry> remaining;
    for (const PortEntry &entry : std::as_const(m_entries)) {
        const bool same = entry.container() && entry.container()->id == container.id &&
                          entry.container()->engineSocket == container.engineSocket;
        (same ? affected : remaining).append(entry);
    }

    m_suppressedContainers.insert(container.id);
    setEntries(remaining);
    reconcileSelection(affected + remaining, m_entries);

    ContainerStopResult result{ContainerStopOutcome::refused, tr("no container engine is set up")};
    if (m_containerStopper)
        result = co_await m_containerStopper->stop(container);

    m_rowErrors.removeIf([&](const RowErrorRecord &r) { return contains(affected, r.id); });
    if (result.outcome == ContainerStopOutcome::refused) {
        for (const PortEntry &entry : std::as_const(affected))
            m_rowErrors.append({entry.id(), RowError::couldNotStopContainer, result.message});
        QList<PortEntry> restored = m_entries + affected;
        std::stable_sort(restored.begin(), restored.end(), displayOrderLess);
        setEntries(std::move(restored));
    }
    m_suppressedContainers.remove(container.id);

    co_await refresh();
}

// A proxy is never signalled: its container would keep running with its port cut off. The row
// says so instead, and nothing else changes.
void PortStore::refuseProxyKill(const PortEntry &row) {
    const qint32 pid = row.pid();
    QList<PortEntryID> ids;
    for (const PortEntry &entry : std::as_const(m_entries)) {
        if (entry.pid() == pid && entry.id().ownerUid == row.id().ownerUid)
            ids.append(entry.id());
    }
    m_rowErrors.removeIf([&](const RowErrorRecord &r) { return ids.contains(r.id); });
    for (const PortEntryID &id : std::as_const(ids))
        m_rowErrors.append({id, RowError::containerProxy, {}});
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
    setSelectedEntryID(m_entries[target].id());
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
