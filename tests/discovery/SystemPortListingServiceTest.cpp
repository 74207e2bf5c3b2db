#include "discovery/SystemPortListingService.h"
#include "discovery/DefaultPortListingService.h"
#include "discovery/ProcessCommandRunner.h"
#include "discovery/SystemdCgroup.h"
#include "discovery/SystemdUnitPortListing.h"
#include "support/StoreFakes.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

using namespace quaystone;
using quaystone::test::awaitTask;
using quaystone::test::FakeListing;

namespace {

ListeningSocket socket(quint16 port, quint32 uid) {
    return {port, uid, 1};
}

// "pid port name" per row (the owner's for a row without a process), or "failed".
QStringList rows(const PortListingResult &result) {
    if (!result)
        return {QStringLiteral("failed")};
    QStringList out;
    for (const PortEntry &e : result.value())
        out << QStringLiteral("%1 %2 %3")
                   .arg(e.pid())
                   .arg(e.port())
                   .arg(e.hasProcess() ? e.processName() : e.ownerName());
    return out;
}

TEST(SystemPortListingService, OtherUsersListenersAreOneRowPerPortAndOwner) {
    const quint32 own = 1000, nameless = 4000000001u;
    ASSERT_EQ(getpwuid(nameless), nullptr);
    const QList<ListeningSocket> sockets = {
        socket(5432, 0),        socket(5432, 0), // IPv4 and IPv6
        socket(6379, nameless), socket(5432, 65534), socket(8080, own), socket(2999, 0),
        socket(10000, 0),       socket(3000, 0),     socket(9999, 0),
    };
    QStringList listed;
    for (const PortEntry &e : SystemPortListingService::foreignListeners(sockets, {3000, 9999}, own)) {
        EXPECT_FALSE(e.hasProcess());
        EXPECT_EQ(e.processName(), QString()) << "the process is not seen, so neither is its name";
        listed << QStringLiteral("%1 %2 %3").arg(e.port()).arg(e.id().ownerUid).arg(e.ownerName());
    }
    EXPECT_EQ(listed, (QStringList{"3000 0 root", "5432 0 root", "5432 65534 nobody", "6379 4000000001 4000000001",
                                   "9999 0 root"}));
}

TEST(SystemPortListingService, MergesTheTableIntoASuccessfulListingOnlyWhenItCannotSeeEveryone) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString table = dir.filePath("tcp");
    QFile file(table);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    // root on 5432 and on 8080, the own user (1000) on 8080.
    file.write("  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
               "   0: 00000000:1538 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 11 1 0\n"
               "   1: 0100007F:1F90 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 12 1 0\n"
               "   2: 0100007F:1F90 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000        0 13 1 0\n");
    file.close();

    const QList<PortEntry> own = {PortEntry(70, 3000, "vite"), PortEntry(12, 8080, "node"),
                                  PortEntry(90, 8080, "node")};
    struct Case {
        const char *what;
        PortListingResult processes;
        std::optional<quint32> ownUid;
        QStringList expected;
    };
    const Case cases[] = {
        {"a normal user", own, 1000, {"70 3000 vite", "0 5432 root", "0 8080 root", "12 8080 node", "90 8080 node"}},
        {"root sees every process already", own, std::nullopt, {"70 3000 vite", "12 8080 node", "90 8080 node"}},
        {"a failed listing stays failed", ListingError{ListingFailure::toolMissing, "/usr/bin/lsof"}, 1000, {"failed"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        auto processes = std::make_unique<FakeListing>();
        processes->answer = c.processes;
        FakeListing *fake = processes.get();
        SystemPortListingService service(std::move(processes), ListeningSocketTable({table}), c.ownUid);
        const PortListingResult result = awaitTask(service.listPorts({3000, 9999}));
        EXPECT_EQ(rows(result), c.expected);
        if (!result) {
            EXPECT_EQ(result.error(), c.processes.error());
        }
        EXPECT_EQ(fake->ranges, (QList<PortRange>{{3000, 9999}}));
    }
}

// Listens on one free port in range on both 127.0.0.1 and ::1, as the user given, until its
// standard input closes.
class ListenerAs {
public:
    explicit ListenerAs(quint32 uid) {
        // The tests' listener, as text: the user may not be able to read the tree.
        QFile file(QStringLiteral(QUAYSTONE_LISTEN_PY));
        const QString script = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
        const QString id = QString::number(uid);
        m_process.start("setpriv",
                        {"--reuid=" + id, "--regid=" + id, "--clear-groups", systemPython(), "-c", script, "46"});
        if (m_process.waitForReadyRead(10000))
            m_port = m_process.readLine().trimmed().toInt();
        else
            m_error = m_process.readAllStandardError();
    }
    ~ListenerAs() {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished(5000);
    }
    int port() const { return m_port; }
    qint64 pid() const { return m_process.processId(); }
    std::string error() const { return m_error.toStdString(); }

    // The system's python: a python3 found through root's PATH may live where other users cannot go.
    static QString systemPython() { return QStandardPaths::findExecutable("python3", {"/usr/bin", "/bin"}); }

private:
    QProcess m_process;
    int m_port = 0;
    QByteArray m_error;
};

QStringList rowsOnPort(const QStringList &lines, int port) {
    QStringList out;
    for (const QString &line : lines) {
        if (line.section(u' ', 1, 1).toInt() == port)
            out << line;
    }
    return out;
}

TEST(SystemPortListingService, AnotherUsersRealListenerIsSeenByAThirdUserWithoutAPid) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "starting processes as other users needs root";
    if (QStandardPaths::findExecutable("setpriv").isEmpty() || ListenerAs::systemPython().isEmpty())
        GTEST_SKIP() << "setpriv or python3 is missing";
    // nobody owns the foreign listener; the listing runs as a uid that no one else uses.
    const quint32 nobody = 65534, third = 4000000002u;
    const ListenerAs foreign(nobody), own(third);
    ASSERT_GT(foreign.port(), 0) << foreign.error();
    ASSERT_GT(own.port(), 0) << own.error();
    // setpriv execs python3 in place, so the process QProcess started is the listener.
    const QString ownRow = QStringLiteral("%1 %2 python3").arg(own.pid()).arg(own.port());

    QProcess probe;
    const QString id = QString::number(third);
    probe.start("setpriv", {"--reuid=" + id, "--regid=" + id, "--clear-groups", QUAYSTONE_BINARY, "--list", "--json"});
    ASSERT_TRUE(probe.waitForFinished(30000));
    ASSERT_EQ(probe.exitCode(), 0) << probe.readAllStandardError().toStdString();
    QStringList asThird;
    for (const QJsonValue row : QJsonDocument::fromJson(probe.readAllStandardOutput()).array())
        asThird << QStringLiteral("%1 %2 %3")
                       .arg(row["pid"].toInt())
                       .arg(row["port"].toInt())
                       .arg(row["name"].toString(row["user"].toString()));
    EXPECT_EQ(rowsOnPort(asThird, foreign.port()), QStringList{QStringLiteral("0 %1 nobody").arg(foreign.port())})
        << "IPv4 and IPv6 of one owner are one row";
    EXPECT_EQ(rowsOnPort(asThird, own.port()), QStringList{ownRow}) << "the own user's listener only as its process";

    // As root lsof sees both processes, and nothing is listed twice.
    SystemPortListingService asRoot(
        std::make_unique<DefaultPortListingService>(std::make_unique<ProcessCommandRunner>()));
    const QStringList all = rows(awaitTask(asRoot.listPorts({3000, 9999})));
    EXPECT_EQ(rowsOnPort(all, foreign.port()),
              QStringList{QStringLiteral("%1 %2 python3").arg(foreign.pid()).arg(foreign.port())});
    EXPECT_EQ(rowsOnPort(all, own.port()), QStringList{ownRow});
}

// What a listener's /proc/PID/cgroup (or its socket's cgroup) says of the unit that stops it.
TEST(SystemdCgroup, NamesTheServiceUnitThatHoldsAListener) {
    using Kind = CgroupPlacement::Kind;
    const struct {
        const char *file;
        Kind kind;
        const char *unit; // "name scope uid"
    } cases[] = {
        {"0::/system.slice/redis-server.service\n", Kind::service, "redis-server.service system 0"},
        // Hybrid: the unified line at the root, systemd's own tree names the unit.
        {"12:name=systemd:/system.slice/postgresql@15-main.service\n0::/\n", Kind::service,
         "postgresql@15-main.service system 0"},
        {"0::/system.slice/docker.service/nested/cgroup\n", Kind::service, "docker.service system 0"},
        {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/devserver.service\n", Kind::service,
         "devserver.service user 1000"},
        {"0::/system.slice/_cgroup.service\n", Kind::service, "cgroup.service system 0"},
        // The user's manager itself, and pid 1: the holders of socket units' ports.
        {"0::/user.slice/user-1000.slice/user@1000.service/init.scope\n", Kind::userManager, ""},
        {"0::/init.scope\n", Kind::systemManager, ""},
        // Scopes are stopped as any process: a terminal's, a session's, an app's.
        {"0::/user.slice/user-1000.slice/session-3.scope\n", Kind::other, ""},
        {"0::/user.slice/user-1000.slice/user@1000.service/app.slice/app-gnome-terminal.scope\n", Kind::other, ""},
        {"0::/\n", Kind::other, ""},
        {"0::/system.slice/bad name.service\n", Kind::other, ""},
        {"", Kind::other, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        const std::optional<QByteArray> path = systemdcgroup::pathOfProcessFile(c.file);
        const CgroupPlacement placement = path ? systemdcgroup::placementOf(*path) : CgroupPlacement{};
        EXPECT_EQ(placement.kind, c.kind);
        QString unit;
        if (placement.unit)
            unit =
                QStringLiteral("%1 %2 %3")
                    .arg(placement.unit->name, placement.unit->scope == ServiceScope::user ? QStringLiteral("user")
                                                                                           : QStringLiteral("system"))
                    .arg(placement.unit->userUid);
        EXPECT_EQ(unit, QString::fromLatin1(c.unit));
    }
    EXPECT_EQ(systemdcgroup::placementOf("/user.slice/user-1000.slice/user@1000.service/init.scope").userUid, 1000u);
    // A socket unit's Listen property: the TCP ports it holds, whatever the address form.
    EXPECT_EQ(SystemdUnitPortListing::streamPorts({{"Stream", "[::]:7777"},
                                                   {"Stream", "127.0.0.1:4303"},
                                                   {"Stream", "8080"},
                                                   {"Stream", "/run/app.sock"},
                                                   {"Datagram", "0.0.0.0:5353"}}),
              (QList<qint64>{7777, 4303, 8080}));
}

} // namespace
