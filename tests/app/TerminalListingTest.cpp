#include "app/TerminalListing.h"
#include "support/StoreFakes.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <gtest/gtest.h>

using namespace quaystone;
using namespace quaystone::test;

namespace {

PortEntry withDetails(qint32 pid, qint64 port, QString name, std::optional<QString> directory,
                      std::optional<quint32> uid, bool deleted = false,
                      std::optional<QString> commandLine = std::nullopt) {
    ProcessDetails details;
    details.workingDirectory = std::move(directory);
    details.workingDirectoryDeleted = deleted;
    details.uid = uid;
    details.commandLine = std::move(commandLine);
    return PortEntry(pid, port, std::move(name)).withDetails(std::move(details));
}

std::optional<QString> fixedUserNames(quint32 uid) {
    switch (uid) {
    case 0:
        return QStringLiteral("root");
    case 1000:
        return QStringLiteral("alice");
    case 1001:
        return QStringLiteral("bob\u202Egnp"); // a name posing as something else
    default:
        return std::nullopt;
    }
}

} // namespace

TEST(TerminalListing, TableLinesUpColumnsAndShowsUnknownsAsDashes) {
    const QList<PortEntry> entries = {
        withDetails(4242, 3000, QStringLiteral("node"), QStringLiteral("/home/alice/web app"), 1000),
        withDetails(77, 5432, QStringLiteral("postgres"), std::nullopt, 1234),
        withDetails(88, 8080, QStringLiteral("evil\u202Ename\n"), QStringLiteral("/srv/old (deleted)"), 1001, true),
        PortEntry(90, 8081, QStringLiteral("сервер")),
        PortEntry(91, 8082, QString()),
        PortEntry::foreignListener(9000, 0, QStringLiteral("root"))
            .withService(ServiceUnit{QStringLiteral("redis-server.service"), ServiceScope::system, 0}),
    };
    const QString expected = QStringLiteral(
        "PORT  PID   USER          NAME              UNIT                  DIRECTORY\n"
        "3000  4242  alice         node              -                     /home/alice/web app\n"
        "5432  77    1234          postgres          -                     -\n"
        "8080  88    bob\\u202Egnp  evil\\u202Ename\\n  -                     [deleted] /srv/old (deleted)\n"
        "8081  90    -             сервер            -                     -\n"
        "8082  91    -             -                 -                     -\n"
        "9000  -     root          -                 redis-server.service  -\n");
    EXPECT_EQ(TerminalListing::table(entries, fixedUserNames).toStdString(), expected.toStdString());
}

TEST(TerminalListing, EmptyListIsTheHeaderAlone) {
    EXPECT_EQ(TerminalListing::table({}, fixedUserNames), QStringLiteral("PORT  PID  USER  NAME  UNIT  DIRECTORY\n"));
    EXPECT_EQ(QJsonDocument::fromJson(TerminalListing::json({}, fixedUserNames)).array(), QJsonArray());
}

TEST(TerminalListing, JsonCarriesEveryFieldWithNullForUnknowns) {
    const QString rawName = QStringLiteral("tab\there \"quoted\" \u202E");
    const QList<PortEntry> entries = {
        // Written raw, and valid: strict parsers refuse an unpaired surrogate.
        withDetails(4242, 3000, rawName, QStringLiteral("/home/alice"), 1000, false,
                    QStringLiteral("node server.js --port 3000") + QChar(0xDC80)),
        withDetails(88, 8080, QStringLiteral("x"), QStringLiteral("/srv/old"), 4321, true)
            .withService(ServiceUnit{QStringLiteral("dev.service"), ServiceScope::user, 4321}),
        PortEntry(91, 8082, QStringLiteral("y")),
        PortEntry::foreignListener(9000, 0, QStringLiteral("root")),
        PortEntry::containerListener(9001, {QStringLiteral("4f1c"), QStringLiteral("db"), QStringLiteral("postgres:16"),
                                            QStringLiteral("/var/run/docker.sock")}),
    };
    // Every field of every row, strictly: null where a value is unknown.
    const char *expected = R"([
 {"port": 3000, "pid": 4242, "user": "alice", "uid": 1000, "name": "tab\there \"quoted\" \u202e",
  "commandLine": "node server.js --port 3000\ufffd", "workingDirectory": "/home/alice",
  "workingDirectoryDeleted": false, "container": null, "service": null},
 {"port": 8080, "pid": 88, "user": "4321", "uid": 4321, "name": "x", "commandLine": null,
  "workingDirectory": "/srv/old", "workingDirectoryDeleted": true, "container": null,
  "service": {"unit": "dev.service", "scope": "user"}},
 {"port": 8082, "pid": 91, "user": null, "uid": null, "name": "y", "commandLine": null, "workingDirectory": null,
  "workingDirectoryDeleted": false, "container": null, "service": null},
 {"port": 9000, "pid": null, "user": "root", "uid": 0, "name": null, "commandLine": null,
  "workingDirectory": null, "workingDirectoryDeleted": false, "container": null, "service": null},
 {"port": 9001, "pid": null, "user": null, "uid": null, "name": "db", "commandLine": null, "workingDirectory": null,
  "workingDirectoryDeleted": false, "container": {"id": "4f1c", "name": "db", "image": "postgres:16"},
  "service": null}])";
    QJsonParseError error{};
    const QJsonArray array = QJsonDocument::fromJson(TerminalListing::json(entries, fixedUserNames), &error).array();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    EXPECT_EQ(array, QJsonDocument::fromJson(expected).array()) << QJsonDocument(array).toJson().toStdString();
}

TEST(TerminalListing, CollectReadsEachProcessOnceAndKeepsTheDisplayOrder) {
    FakeListing listing;
    listing.answer = QList<PortEntry>{
        PortEntry(20, 3000, QStringLiteral("b")),
        PortEntry::foreignListener(3000, 0, QStringLiteral("root")),
        PortEntry(10, 3000, QStringLiteral("a")),
    };
    FakeResolver resolver;
    resolver.directories.insert(10, QStringLiteral("/a"));

    const PortListingResult result = awaitTask(TerminalListing::collect(listing, resolver, PortRange{3000, 3001}));

    ASSERT_TRUE(result);
    EXPECT_EQ(listing.ranges, (QList<PortRange>{{3000, 3001}}));
    EXPECT_EQ(resolver.pids, (QList<qint32>{20, 10})) << "a row without a process is not read";
    const QList<PortEntry> expected = {
        PortEntry::foreignListener(3000, 0, QStringLiteral("root")),
        PortEntry(10, 3000, QStringLiteral("a"), QStringLiteral("/a")),
        PortEntry(20, 3000, QStringLiteral("b")),
    };
    EXPECT_EQ(result.value(), expected);
}

TEST(TerminalListing, CollectPassesTheListingsFailureOn) {
    for (const ListingFailure failure : {ListingFailure::toolMissing, ListingFailure::toolNotExecutable,
                                         ListingFailure::launchFailed, ListingFailure::timedOut}) {
        FakeListing listing;
        listing.answer = ListingError{failure, QStringLiteral("/opt/lsof")};
        FakeResolver resolver;
        const PortListingResult result = awaitTask(TerminalListing::collect(listing, resolver, PortRange{}));
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error(), (ListingError{failure, QStringLiteral("/opt/lsof")}));
        EXPECT_TRUE(resolver.pids.isEmpty());
    }
}

TEST(TerminalListing, SystemUserNamesComeFromThePasswordDatabase) {
    EXPECT_EQ(TerminalListing::systemUserName(0), QStringLiteral("root"));
    // No system hands out the largest uid but one; (uid_t)-1 means "no change" to the kernel.
    EXPECT_EQ(TerminalListing::systemUserName(0xFFFFFFFEu), std::nullopt);
    const PortEntry unnamed = withDetails(1, 3000, QStringLiteral("x"), std::nullopt, 0xFFFFFFFEu);
    EXPECT_EQ(TerminalListing::userOf(unnamed, TerminalListing::systemUserName), QStringLiteral("4294967294"));
}
