#pragma once

#include "discovery/CommandRunning.h"
#include "discovery/LsofParser.h"
#include "model/PortListing.h"

#include <chrono>
#include <memory>

namespace quaystone {

// Lists the listeners in a range by running lsof once and parsing what it prints on standard output.
// Its exit status and standard error are ignored: lsof exits 1 when it finds nothing, and warns about
// file systems it cannot read while still listing the rest. Decoding and parsing run on a worker
// thread, so that a listing of any size leaves the event loop free.
class DefaultPortListingService final : public PortListing {
public:
    // lsof can block for ever on a dead network mount; a listing that takes longer than this fails.
    static constexpr std::chrono::milliseconds listingDeadline = std::chrono::seconds(10);

    explicit DefaultPortListingService(std::unique_ptr<CommandRunning> commandRunner, LsofParser parser = {},
                                       QString lsofPath = defaultLsofPath(),
                                       std::chrono::milliseconds deadline = listingDeadline);

    QCoro::Task<PortListingResult> listPorts(PortRange range) override;

    // The lsof path chosen when the project was configured.
    static QString defaultLsofPath();

    static QStringList lsofArguments();

    // Decodes lsof's standard output (ill-formed UTF-8 becomes U+FFFD) and keeps the parsed entries
    // inside the range. A pure function of its arguments, safe on any thread.
    static QList<PortEntry> entriesInRange(const LsofParser &parser, const QByteArray &output, PortRange range);

private:
    std::unique_ptr<CommandRunning> m_commandRunner;
    LsofParser m_parser;
    QString m_lsofPath;
    std::chrono::milliseconds m_deadline;
};

} // namespace quaystone
