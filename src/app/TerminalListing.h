#pragma once

#include "app/LaunchOptions.h"
#include "model/PortListing.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace quaystone {

class WorkingDirectoryResolving;

// `quaystone --list`: the popup's rows printed once to a terminal, without a display.
class TerminalListing {
public:
    // The user name of a uid, or nothing when the system has no name for it.
    using UserNameLookup = std::function<std::optional<QString>(quint32 uid)>;

    enum class Format { table, json };

    // The listing and the per-row step of a refresh, as the store runs them.
    static QCoro::Task<PortListingResult> collect(PortListing &listing, WorkingDirectoryResolving &resolver,
                                                  PortRange range);

    // Columns PORT, PID, USER, NAME, DIRECTORY, padded to line up; "-" where nothing is known.
    static QString table(const QList<PortEntry> &entries, const UserNameLookup &userName = systemUserName);
    // An array with one object per row; unknown fields are null.
    static QByteArray json(const QList<PortEntry> &entries, const UserNameLookup &userName = systemUserName);

    // The row's owner as shown: its name, else the numeric uid; nothing when the uid is unknown.
    static std::optional<QString> userOf(const PortEntry &entry, const UserNameLookup &userName);
    static std::optional<QString> systemUserName(quint32 uid);

    // Lists the default range with the app's own services and prints the result: the rows on
    // standard output (exit status 0), or the reason the listing failed on standard error (1).
    // Needs a QCoreApplication.
    static int run(Format format, ListingSource source = ListingSource::kernel);
};

} // namespace quaystone
