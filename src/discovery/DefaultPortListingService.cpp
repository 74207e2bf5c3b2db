#include "DefaultPortListingService.h"

#include <QtConcurrent/QtConcurrentRun>
#include <qcoro/qcorofuture.h>

namespace quaystone {

namespace {

ListingFailure listingFailure(CommandRunnerError error) {
    switch (error) {
    case CommandRunnerError::programMissing:
        return ListingFailure::toolMissing;
    case CommandRunnerError::notExecutable:
        return ListingFailure::toolNotExecutable;
    case CommandRunnerError::timedOut:
        return ListingFailure::timedOut;
    case CommandRunnerError::launchFailed:
    // Only while the application quits, when nobody reads it.
    case CommandRunnerError::interrupted:
        return ListingFailure::launchFailed;
    }
    return ListingFailure::launchFailed;
}

} // namespace

DefaultPortListingService::DefaultPortListingService(std::unique_ptr<CommandRunning> commandRunner, LsofParser parser,
                                                     QString lsofPath, std::chrono::milliseconds deadline)
    : m_commandRunner(std::move(commandRunner))
    , m_parser(parser)
    , m_lsofPath(std::move(lsofPath))
    , m_deadline(deadline) {}

QString DefaultPortListingService::defaultLsofPath() {
    return QStringLiteral(QUAYSTONE_LSOF_PATH);
}

QStringList DefaultPortListingService::lsofArguments() {
    // Numeric hosts and ports, TCP only, listening sockets only. The range is filtered here afterwards.
    return {QStringLiteral("-n"), QStringLiteral("-P"), QStringLiteral("-iTCP"), QStringLiteral("-sTCP:LISTEN")};
}

QList<PortEntry> DefaultPortListingService::entriesInRange(const LsofParser &parser, const QByteArray &output,
                                                           PortRange range) {
    // fromUtf8 replaces ill-formed sequences with U+FFFD rather than failing.
    QList<PortEntry> entries = parser.parse(QString::fromUtf8(output));
    entries.removeIf([range](const PortEntry &entry) { return !range.contains(entry.port()); });
    return entries;
}

QCoro::Task<PortListingResult> DefaultPortListingService::listPorts(PortRange range) {
    CommandRunResult run = co_await m_commandRunner->run(m_lsofPath, lsofArguments(), m_deadline);
    if (!run)
        co_return ListingError{listingFailure(run.error()), m_lsofPath};

    // Tens of megabytes take a second to decode and parse: far too long to hold the event loop.
    QFuture<QList<PortEntry>> parsing =
        QtConcurrent::run([parser = m_parser, output = std::move(run).value().standardOutput, range] {
            return entriesInRange(parser, output, range);
        });
    co_await parsing;
    // Taken rather than copied: the future's copy would otherwise be the last one, freed on this thread
    // once the store has let go of the listing, hundreds of thousands of strings at once.
    co_return parsing.takeResult();
}

} // namespace quaystone
