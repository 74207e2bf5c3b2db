#include "app/TerminalListing.h"

#include "app/DefaultServices.h"
#include "model/ContainerInfo.h"
#include "model/DisplayText.h"
#include "model/ListingErrorText.h"
#include "model/PortStore.h"
#include "model/ProcessKilling.h"
#include "model/WorkingDirectoryResolving.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace quaystone {

namespace {

const QString unknown = QStringLiteral("-");

// Remembers each uid's name for one printout: every row of a user asks again, and a lookup
// may go to a directory service.
class CachedUserNames {
public:
    explicit CachedUserNames(const TerminalListing::UserNameLookup &lookup)
        : m_lookup(lookup) {}

    std::optional<QString> operator()(quint32 uid) {
        const auto it = m_names.constFind(uid);
        if (it != m_names.cend())
            return *it;
        std::optional<QString> name = m_lookup(uid);
        m_names.insert(uid, name);
        return name;
    }

private:
    const TerminalListing::UserNameLookup &m_lookup;
    QHash<quint32, std::optional<QString>> m_names;
};

// Terminal columns taken by the text, counting a code point as one column.
qsizetype columnsOf(const QString &text) {
    return std::count_if(text.cbegin(), text.cend(), [](QChar c) { return !c.isLowSurrogate(); });
}

QString directoryText(const PortEntry &entry) {
    // A container's port has no folder on this host; the row says where it comes from instead.
    if (entry.container())
        return QStringLiteral("container");
    if (!entry.workingDirectory())
        return unknown;
    const QString path = displayText(*entry.workingDirectory());
    // Marked in front: a path may itself end in " (deleted)", as the kernel writes it.
    return entry.workingDirectoryDeleted() ? QStringLiteral("[deleted] ") + path : path;
}

// Strings go out raw, for programs to read, but always valid: nothing unpaired that a strict
// parser would refuse.
QJsonValue jsonString(const QString &text) {
    return QJsonValue(wellFormed(text));
}

QJsonValue optionalString(const std::optional<QString> &text) {
    return text ? jsonString(*text) : QJsonValue(QJsonValue::Null);
}

// QCoro::waitFor wants a default-constructible result, which a Result is not.
QCoro::Task<> collectInto(std::optional<PortListingResult> &out, DefaultServices &services) {
    PortListingResult result = co_await TerminalListing::collect(*services.listing, *services.workingDirectoryResolver,
                                                                 PortStore::defaultRange);
    out = std::move(result);
}

} // namespace

QCoro::Task<PortListingResult> TerminalListing::collect(PortListing &listing, WorkingDirectoryResolving &resolver,
                                                        PortRange range) {
    PortListingResult result = co_await listing.listPorts(range);
    if (!result)
        co_return result.error();
    QList<PortEntry> rows;
    for (const PortEntry &entry : result.value()) {
        if (entry.hasProcess()) {
            // Awaited in a statement of its own: GCC 12 miscompiles co_await inside a conditional expression.
            ProcessDetails details = co_await resolver.resolve(entry.pid());
            rows.append(entry.withDetails(std::move(details)));
        } else {
            rows.append(entry);
        }
    }
    std::stable_sort(rows.begin(), rows.end(), displayOrderLess);
    co_return rows;
}

std::optional<QString> TerminalListing::systemUserName(quint32 uid) {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size <= 0)
        size = 1024;
    std::vector<char> buffer(static_cast<size_t>(size));
    passwd entry{};
    passwd *found = nullptr;
    int error = 0;
    while ((error = getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (error != 0 || !found || !found->pw_name || !*found->pw_name)
        return std::nullopt;
    return QString::fromUtf8(found->pw_name);
}

std::optional<QString> TerminalListing::userOf(const PortEntry &entry, const UserNameLookup &userName) {
    if (entry.uid()) {
        std::optional<QString> name = userName(*entry.uid());
        return name ? *name : QString::number(*entry.uid());
    }
    if (!entry.ownerName().isEmpty())
        return entry.ownerName();
    return std::nullopt;
}

QString TerminalListing::table(const QList<PortEntry> &entries, const UserNameLookup &userName) {
    CachedUserNames names(userName);
    const UserNameLookup cached = [&names](quint32 uid) { return names(uid); };

    constexpr int columnCount = 6;
    using Row = std::array<QString, columnCount>;
    QList<Row> rows;
    rows.reserve(entries.size() + 1);
    rows.append({QStringLiteral("PORT"), QStringLiteral("PID"), QStringLiteral("USER"), QStringLiteral("NAME"),
                 QStringLiteral("UNIT"), QStringLiteral("DIRECTORY")});
    for (const PortEntry &entry : entries) {
        const QString name = entry.processName().isEmpty() ? unknown : displayText(entry.processName());
        rows.append({QString::number(entry.port()), entry.hasProcess() ? QString::number(entry.pid()) : unknown,
                     displayText(userOf(entry, cached).value_or(unknown)), name,
                     entry.service() ? displayText(entry.service()->name) : unknown, directoryText(entry)});
    }

    std::array<qsizetype, columnCount> widths{};
    for (const Row &row : rows) {
        for (int c = 0; c < columnCount; ++c)
            widths[c] = std::max(widths[c], columnsOf(row[c]));
    }
    QString out;
    for (const Row &row : rows) {
        for (int c = 0; c < columnCount - 1; ++c)
            out += row[c] + QString(widths[c] - columnsOf(row[c]) + 2, u' ');
        out += row[columnCount - 1] + u'\n';
    }
    return out;
}

QByteArray TerminalListing::json(const QList<PortEntry> &entries, const UserNameLookup &userName) {
    CachedUserNames names(userName);
    const UserNameLookup cached = [&names](quint32 uid) { return names(uid); };

    QJsonArray array;
    for (const PortEntry &entry : entries) {
        QJsonObject object;
        object.insert(QStringLiteral("port"), entry.port());
        object.insert(QStringLiteral("pid"), entry.hasProcess() ? QJsonValue(entry.pid()) : QJsonValue());
        object.insert(QStringLiteral("user"), optionalString(userOf(entry, cached)));
        object.insert(QStringLiteral("uid"), entry.uid() ? QJsonValue(qint64(*entry.uid())) : QJsonValue());
        object.insert(QStringLiteral("name"),
                      entry.processName().isEmpty() ? QJsonValue() : jsonString(entry.processName()));
        object.insert(QStringLiteral("commandLine"), optionalString(entry.commandLine()));
        object.insert(QStringLiteral("workingDirectory"), optionalString(entry.workingDirectory()));
        object.insert(QStringLiteral("workingDirectoryDeleted"), entry.workingDirectoryDeleted());
        object.insert(QStringLiteral("container"),
                      entry.container() ? QJsonValue(containerJson(*entry.container())) : QJsonValue());
        object.insert(QStringLiteral("service"),
                      entry.service() ? QJsonValue(serviceJson(*entry.service())) : QJsonValue());
        array.append(object);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

int TerminalListing::run(Format format, ListingSource source) {
    DefaultServices services = makeDefaultServices(source);
    std::optional<PortListingResult> result;
    QCoro::waitFor(collectInto(result, services));
    if (!result || !*result) {
        const ListingError error = result ? result->error() : ListingError{};
        std::fprintf(stderr, "quaystone: %s\n", qUtf8Printable(listingErrorDescription(error)));
        return 1;
    }
    const QList<PortEntry> &rows = result->value();
    const QByteArray out = format == Format::json ? json(rows) : table(rows).toUtf8();
    if (std::fwrite(out.constData(), 1, size_t(out.size()), stdout) != size_t(out.size()) || std::fflush(stdout) != 0) {
        // A full disk or a closed pipe must not pass for a printed list.
        std::perror("quaystone: writing the list");
        return 1;
    }
    return 0;
}

} // namespace quaystone
