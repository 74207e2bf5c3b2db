// The stop-port helper run directly, as root, against real listeners of another user.

#include "model/StopPortHelperProtocol.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

namespace {

using namespace quaystone;

const QString helper = QStringLiteral(QUAYSTONE_STOP_PORT_HELPER);
const QString python = QStringLiteral("/usr/bin/python3");

// The tests' listener (scripts/lib/listen.py), as text: user nobody may not be able to read the tree.
QString listenerScript() {
    QFile file(QStringLiteral(QUAYSTONE_LISTEN_PY));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

struct Listener {
    std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
    int port = 0;
    QList<qint64> pids;

    ~Listener() {
        for (const qint64 pid : pids)
            ::kill(static_cast<pid_t>(pid), SIGKILL);
        process->waitForFinished(2000);
    }
};

// A listener of user nobody (uid 65534), which the app could not stop without the helper.
std::unique_ptr<Listener> startListenerOfNobody(QStringList options) {
    auto listener = std::make_unique<Listener>();
    const QStringList arguments{"--reuid=65534", "--regid=65534", "--clear-groups", python, "-c", listenerScript()};
    listener->process->start(QStringLiteral("/usr/bin/setpriv"), arguments + options);
    // The line may arrive in pieces.
    while (!listener->process->canReadLine()) {
        if (!listener->process->waitForReadyRead(10000))
            return nullptr;
    }
    // setpriv execs python3 in place: the listener, and with fork the child it names.
    const QList<QByteArray> fields = listener->process->readLine().trimmed().split(' ');
    listener->port = fields.value(0).toInt();
    listener->pids.append(listener->process->processId());
    for (qsizetype i = 1; i < fields.size(); ++i)
        listener->pids.append(fields[i].toLongLong());
    return listener->port > 0 ? std::move(listener) : nullptr;
}

struct HelperRun {
    int status = -1;
    QString out;
    QString err;
    qint64 milliseconds = 0;
};

HelperRun runHelper(const QStringList &arguments) {
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(helper, arguments);
    process.waitForFinished(30000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError()),
            timer.elapsed()};
}

// Gone, or a zombie whose parent has not reaped it yet: either way it holds no socket.
bool hasExited(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray text = stat.readAll();
    return text.mid(text.lastIndexOf(')') + 2, 1) == "Z";
}

bool portIsFree(int port) {
    QTcpServer server;
    return server.listen(QHostAddress::Any, static_cast<quint16>(port));
}

class StopPortHelperTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0)
            GTEST_SKIP() << "the helper stops other users' processes only as root; run the tests as root";
        if (!QFile::exists(QStringLiteral("/usr/bin/setpriv")) || !QFile::exists(python))
            GTEST_SKIP() << "needs /usr/bin/setpriv and /usr/bin/python3 to start a listener of another user";
    }
};

TEST_F(StopPortHelperTest, StopsEveryProcessListeningOnThePort) {
    // IPv4, IPv6, two processes sharing the socket, one that ignores SIGTERM.
    for (const QString &option : {"4", "6", "fork", "ignore-term"}) {
        SCOPED_TRACE(option.toStdString());
        const auto listener = startListenerOfNobody({option});
        ASSERT_TRUE(listener) << "no listener of nobody started";

        const HelperRun run = runHelper({QString::number(listener->port)});

        EXPECT_EQ(run.status, stopport::stopped) << run.err.toStdString();
        for (const qint64 pid : listener->pids) {
            EXPECT_TRUE(run.out.contains(QStringLiteral("stopped %1 python3\n").arg(pid))) << run.out.toStdString();
            EXPECT_TRUE(hasExited(pid)) << pid;
        }
        EXPECT_EQ(run.out.count(u'\n'), listener->pids.size()) << "one line per process";
        EXPECT_TRUE(portIsFree(listener->port));
        if (option == "ignore-term")
            EXPECT_GE(run.milliseconds, 2000) << "SIGKILL came before the 2 s grace period ended";
    }
}

TEST_F(StopPortHelperTest, RefusesEverythingButOnePlainPortAndSignalsNothing) {
    const auto listener = startListenerOfNobody({});
    ASSERT_TRUE(listener && !listener->pids.isEmpty());
    const QString port = QString::number(listener->port);
    const QString hex = "0x" + QString::number(listener->port, 16);
    const QList<QStringList> cases = {
        {},           {port, port}, {port, "--force"}, {"+" + port}, {" " + port}, {port + " "}, {"0" + port},
        {"-" + port}, {hex},        {"2999"},          {"10000"},    {"80"},       {""}};
    for (const QStringList &arguments : cases) {
        SCOPED_TRACE(arguments.join(QLatin1Char('|')).toStdString());
        const HelperRun run = runHelper(arguments);
        EXPECT_EQ(run.status, stopport::refusedInput);
        EXPECT_TRUE(run.out.isEmpty());
    }
    EXPECT_FALSE(hasExited(listener->pids.first()));
    EXPECT_FALSE(portIsFree(listener->port));
}

TEST_F(StopPortHelperTest, APortWithoutListenerIsRefused) {
    int freePort = 0;
    for (int port = 9999; port >= 3000 && freePort == 0; --port) {
        if (portIsFree(port))
            freePort = port;
    }
    ASSERT_NE(freePort, 0);
    const HelperRun run = runHelper({QString::number(freePort)});
    EXPECT_EQ(run.status, stopport::noListener);
    EXPECT_TRUE(run.out.isEmpty());
}

TEST_F(StopPortHelperTest, NeverSignalsItsOwnCaller) {
    // This test program listens and starts the helper: it is the helper's parent.
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    int port = server.serverPort();
    for (int candidate = 3000; (port < 3000 || port > 9999) && candidate <= 9999; ++candidate) {
        server.close();
        if (server.listen(QHostAddress::LocalHost, static_cast<quint16>(candidate)))
            port = candidate;
    }
    ASSERT_TRUE(server.isListening());

    const HelperRun run = runHelper({QString::number(port)});

    EXPECT_EQ(run.status, stopport::failed);
    EXPECT_TRUE(run.out.startsWith(QStringLiteral("not stopped %1 ").arg(getpid()))) << run.out.toStdString();
    EXPECT_TRUE(server.isListening());
}

} // namespace
