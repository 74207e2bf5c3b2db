#include "DefaultPortListingService.h"

namespace quaystone {

DefaultPortListingService::DefaultPortListingService(std::unique_ptr<CommandRunning> commandRunner, LsofParser parser,
                                                     QString lsofPath)
    : m_commandRunner(std::move(commandRunner))
    , m_parser(parser)
    , m_lsofPath(std::move(lsofPath)) {}

QString DefaultPortListingService::defaultLsofPath() {
    return QStringLiteral(QUAYSTONE_LSOF_PATH);
}

QStringList DefaultPortListingService::lsofArguments() {
    // Numeric hosts and ports, TCP only, listening sockets only. The range is filtered here afterwards.
    return {QStringLiteral("-n"), QStringLiteral("-P"), QStringLiteral("-iTCP"), QStringLiteral("-sTCP:LISTEN")};
}

QCoro::Task<PortListingResult> DefaultPortListingService::listPorts(PortRange range) {
    CommandRunResult run = co_await m_commandRunner->run(m_lsofPath, lsofArguments());
    if (!run)
        co_return ListingError{ListingFailure::launchFailed, m_lsofPath};

    // fromUtf8 replaces ill-formed sequences with U+FFFD rather than failing.
    const QList<PortEntry> parsed = m_parser.parse(QString::fromUtf8(run.value().standardOutput));
    QList<PortEntry> inRange;
    for (const PortEntry &entry : parsed) {
        if (range.contains(entry.port()))
            inRange.append(entry);
    }
    co_return inRange;
}

} // namespace quaystone
