#pragma once

#include "kernel/SocketHolderScan.h"
#include "model/PortListing.h"

#include <memory>
#include <optional>
#include <vector>

namespace quaystone {

// Lists the listeners in a range by asking the kernel: the listening sockets from sock_diag, then
// the processes holding them from their /proc/PID/fd links, starting with the descriptors that
// held them at the last pass. The same rows as lsof, named as the per-row step names them, at a
// fraction of its cost on a desktop with many open files. Where netlink is refused or /proc hides
// processes, the fallback listing (lsof) answers instead. The reads run on a worker thread.
class KernelPortListingService final : public PortListing {
public:
    // onlyUid: the user whose processes are read and whose sockets are looked for; absent as root,
    // when every process is read.
    KernelPortListingService(std::unique_ptr<PortListing> fallback, std::optional<quint32> onlyUid);

    QCoro::Task<PortListingResult> listPorts(PortRange range) override;

    struct Pass {
        // False where the kernel cannot serve and the fallback must.
        bool served = false;
        QList<PortEntry> entries;
        std::vector<kernel::SocketHolder> holders;
    };
    // One pass, read at once on the calling thread.
    static Pass read(PortRange range, std::optional<quint32> onlyUid, std::vector<kernel::SocketHolder> known);

private:
    std::unique_ptr<PortListing> m_fallback;
    std::optional<quint32> m_onlyUid;
    std::vector<kernel::SocketHolder> m_known;
};

} // namespace quaystone
