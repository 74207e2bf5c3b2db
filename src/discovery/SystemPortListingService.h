#pragma once

#include "discovery/ListeningSocketTable.h"
#include "model/PortListing.h"

#include <memory>
#include <optional>

namespace quaystone {

// The listeners of the user's own processes from the process listing, and beside them the
// listeners of other users, which that listing cannot see when it does not run as root, from the
// kernel's socket tables: one row per port and owner, without a pid.
class SystemPortListingService final : public PortListing {
public:
    // ownUid: the user whose processes processListing sees; absent when it sees every process,
    // and then the socket tables are not read at all, so that no listener is listed twice.
    explicit SystemPortListingService(std::unique_ptr<PortListing> processListing,
                                      ListeningSocketTable socketTable = ListeningSocketTable(),
                                      std::optional<quint32> ownUid = listingUser());

    // A failed process listing fails the whole listing: the table's rows alone would pass for
    // a complete list.
    QCoro::Task<PortListingResult> listPorts(PortRange range) override;

    // The effective uid of this process, or absent when it is root (lsof then sees every process).
    static std::optional<quint32> listingUser();

    // One row per port in range and owner other than ownUid, in the list order.
    static QList<PortEntry> foreignListeners(const QList<ListeningSocket> &sockets, PortRange range, quint32 ownUid);

    // The rows with the systemd units that their sockets' cgroups name.
    static QList<PortEntry> withServices(QList<PortEntry> rows, const QList<ListeningSocket> &sockets);

    // The user's login name, or the uid in decimal when the user has none.
    static QString userName(quint32 uid);

private:
    std::unique_ptr<PortListing> m_processListing;
    ListeningSocketTable m_socketTable;
    std::optional<quint32> m_ownUid;
};

} // namespace quaystone
