#include "KernelPortListingService.h"

#include "discovery/ProcessWorkingDirectoryResolver.h"
#include "kernel/ListeningSockets.h"

#include <QHash>
#include <QtConcurrent/QtConcurrentRun>
#include <qcoro/qcorofuture.h>

#include <algorithm>

namespace quaystone {

KernelPortListingService::KernelPortListingService(std::unique_ptr<PortListing> fallback,
                                                   std::optional<quint32> onlyUid)
    : m_fallback(std::move(fallback))
    , m_onlyUid(onlyUid) {}

KernelPortListingService::Pass KernelPortListingService::read(PortRange range, std::optional<quint32> onlyUid,
                                                              std::vector<kernel::SocketHolder> known) {
    Pass pass;
    const std::optional<std::vector<ListeningSocket>> sockets = kernel::readSocketDiag();
    if (!sockets || !kernel::SocketHolderScan::procShowsProcesses(!onlyUid))
        return pass;

    // IPv4 and IPv6 sockets of one process on one port are one row, as in lsof's listing.
    QHash<quint64, quint16> ports;
    std::vector<kernel::WantedSocket> wanted;
    for (const ListeningSocket &socket : *sockets) {
        if (range.contains(socket.port) && (!onlyUid || socket.uid == *onlyUid) && !ports.contains(socket.inode)) {
            ports.insert(socket.inode, socket.port);
            wanted.push_back({socket.inode, uid_t(socket.uid)});
        }
    }
    kernel::SocketHolderScan::Options options;
    options.onlyUid = onlyUid ? std::optional<uid_t>(uid_t(*onlyUid)) : std::nullopt;
    options.known = std::move(known);
    kernel::SocketHolderScan::Outcome outcome = kernel::SocketHolderScan::find(wanted, options);
    if (!outcome.procReadable)
        return pass;

    std::vector<std::pair<quint16, qint32>> rows;
    rows.reserve(outcome.holders.size());
    for (const kernel::SocketHolder &holder : outcome.holders)
        rows.emplace_back(ports.value(holder.inode), qint32(holder.pid));
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());

    // Named by the rule the per-row step applies, so that a row reads the same from either listing.
    QHash<qint32, std::optional<QString>> names;
    for (const auto &[port, pid] : rows) {
        auto name = names.constFind(pid);
        if (name == names.cend()) {
            const ProcessDetails details = ProcessWorkingDirectoryResolver::read(pid);
            // A process that has ended since its descriptors were read has no row.
            name = names.insert(
                pid, details.uid ? std::optional(PortEntry(pid, port, QString()).withDetails(details).processName())
                                 : std::nullopt);
        }
        if (*name)
            pass.entries.append(PortEntry(pid, port, **name));
    }
    pass.holders = std::move(outcome.holders);
    pass.served = true;
    return pass;
}

QCoro::Task<PortListingResult> KernelPortListingService::listPorts(PortRange range) {
    // Hundreds of thousands of readlinks in the worst case: never on the event loop.
    QFuture<Pass> reading =
        QtConcurrent::run([range, onlyUid = m_onlyUid, known = m_known] { return read(range, onlyUid, known); });
    co_await reading;
    Pass pass = reading.takeResult();
    if (!pass.served)
        co_return co_await m_fallback->listPorts(range);
    m_known = std::move(pass.holders);
    co_return std::move(pass.entries);
}

} // namespace quaystone
