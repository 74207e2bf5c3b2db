#pragma once

#include "discovery/CommandRunning.h"
#include "discovery/LsofParser.h"
#include "model/PortListing.h"

#include <memory>

namespace quaystone {

// Lists the listeners in a range by running lsof once and parsing what it prints on standard output.
// Its exit status and standard error are ignored: lsof exits 1 when it finds nothing, and warns about
// file systems it cannot read while still listing the rest.
class DefaultPortListingService final : public PortListing {
public:
    explicit DefaultPortListingService(std::unique_ptr<CommandRunning> commandRunner, LsofParser parser = {},
                                       QString lsofPath = defaultLsofPath());

    QCoro::Task<PortListingResult> listPorts(PortRange range) override;

    // The lsof path chosen when the project was configured.
    static QString defaultLsofPath();

    static QStringList lsofArguments();

private:
    std::unique_ptr<CommandRunning> m_commandRunner;
    LsofParser m_parser;
    QString m_lsofPath;
};

} // namespace quaystone
