#include "model/ListingErrorText.h"

#include <QFileInfo>

namespace quaystone {

namespace {

QString toolName(const ListingError &error) {
    const QString name = QFileInfo(error.toolPath).fileName();
    return name.isEmpty() ? QStringLiteral("lsof") : name;
}

} // namespace

QString listingErrorDescription(const ListingError &error) {
    const QString tool = toolName(error);
    switch (error.failure) {
    case ListingFailure::toolMissing:
        return QStringLiteral("%1 was not found at %2. Install the lsof package.").arg(tool, error.toolPath);
    case ListingFailure::toolNotExecutable:
        return QStringLiteral("%1 at %2 cannot be run. Reinstall the lsof package.").arg(tool, error.toolPath);
    case ListingFailure::launchFailed:
        return QStringLiteral("%1 at %2 could not be started. Try again, or reinstall the lsof package.")
            .arg(tool, error.toolPath);
    case ListingFailure::timedOut:
        return QStringLiteral("%1 did not answer in time and was stopped. A stalled network mount can cause this; "
                              "try again.")
            .arg(tool);
    }
    return QStringLiteral("%1 failed.").arg(tool);
}

QString listingErrorSummary(const ListingError &error) {
    const QString tool = toolName(error);
    switch (error.failure) {
    case ListingFailure::toolMissing:
        return QStringLiteral("%1 not found").arg(tool);
    case ListingFailure::toolNotExecutable:
        return QStringLiteral("%1 cannot be run").arg(tool);
    case ListingFailure::launchFailed:
        return QStringLiteral("%1 could not start").arg(tool);
    case ListingFailure::timedOut:
        return QStringLiteral("timed out");
    }
    return QStringLiteral("%1 failed").arg(tool);
}

} // namespace quaystone
