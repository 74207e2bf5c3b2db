// The stop-port helper run directly, as root, against real listeners of another user.

#include "model/StopPortHelperProtocol.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace quaystone;

const QString helper = QStringLiteral(QUAYSTONE_STOP_PORT_HELPER);
const QString python = QStringLiteral("/usr/bin/python3");
const QString nobody = QStringLiteral("65534");

// Binds a free port in the watched range (or host=, port=), optionally forks a child that shares
// the socket, and prints the port and the pids holding it, then "keep" and those that must survive.
// pass: run as root, makes nobody's socket and shares it with a child of nobody; name=: prctl;
// main-exits: the main thread ends while another holds the process.
const char *listenerScript = R"(
import ctypes, os, random, signal, socket, sys, threading, time
opts = dict(a.split("=", 1) if "=" in a else (a, "") for a in sys.argv[1:])
family = socket.AF_INET6 if "ipv6" in opts else socket.AF_INET
if "ignore-term" in opts:
    signal.signal(signal.SIGTERM, signal.SIG_IGN)
if "name" in opts:
    ctypes.CDLL(None).prctl(15, opts["name"].encode(), 0, 0, 0)
if "pass" in opts:
    os.seteuid(65534)
for _ in range(500):
    s = socket.socket(family)
    try:
        s.bind((opts.get("host", "::" if family == socket.AF_INET6 else "127.0.0.1"),
                int(opts.get("port", random.randint(3000, 9999)))))
    except OSError:
        s.close()
        continue
    s.listen()
    break
else:
    sys.exit(1)
pids, keep = [os.getpid()], []
if "pass" in opts:
    os.seteuid(0)
    pids, keep = [], [os.getpid()]
if "fork" in opts or "pass" in opts:
    ready, told = os.pipe()
    child = os.fork()
    if child == 0:
        if "pass" in opts:
            os.setgid(65534); os.setuid(65534)
        os.write(told, b"x")
        time.sleep(600)
        os._exit(0)
    os.read(ready, 1)  # the child is nobody's before it is listed as such
    pids.append(child)
print(s.getsockname()[1], *pids, "keep", *keep, flush=True)
if "main-exits" in opts:
    threading.Thread(target=time.sleep, args=(600,)).start()
    ctypes.CDLL(None).pthread_exit(None)
time.sleep(600)
)";

struct Listener {
    std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
    int port = 0;
    QList<qint64> pids; // to be stopped
    QList<qint64> kept; // to survive

    ~Listener() {
        for (const qint64 pid : pids + kept)
            ::kill(static_cast<pid_t>(pid), SIGKILL);
        process->waitForFinished(2000);
    }
};

// A listener of user nobody (uid 65534), which the app could not stop without the helper, or of
// root with asRoot. program runs the script in place of python3.
std::unique_ptr<Listener> startListener(QStringList options, bool asRoot = false, const QString &program = python) {
    auto listener = std::make_unique<Listener>();
    QStringList arguments{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                          QStringLiteral("--clear-groups")};
    if (asRoot)
        arguments.clear();
    listener->process->start(QStringLiteral("/usr/bin/setpriv"),
                             arguments + QStringList{program, QStringLiteral("-c"), QString::fromUtf8(listenerScript)} +
                                 options);
    // The line may arrive in pieces.
    while (!listener->process->canReadLine()) {
        if (!listener->process->waitForReadyRead(10000))
            return nullptr;
    }
    const QList<QByteArray> fields = listener->process->readLine().trimmed().split(' ');
    listener->port = fields.value(0).toInt();
    QList<qint64> *list = &listener->pids;
    for (qsizetype i = 1; i < fields.size(); ++i) {
        if (fields[i] == "keep")
            list = &listener->kept;
        else
            list->append(fields[i].toLongLong());
    }
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

TEST_F(StopPortHelperTest, StopsTheProcessesOfTheUidListeningOnThePortAndNothingElse) {
    // A program whose file is named as a container engine's port forwarder.
    QTemporaryDir dir;
    const QString proxy = dir.filePath(QStringLiteral("docker-proxy"));
    ASSERT_TRUE(QFile::copy(python, proxy));
    QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::ExeOther | QFile::ReadOther);
    QFile::setPermissions(proxy, QFile::permissions(proxy) | QFile::ExeOther | QFile::ReadOther);
    const QString S = QStringLiteral("python3");
    const struct {
        const char *what;
        QStringList options;
        int status = stopport::stopped;
        bool stopped = true; // the listener's pids (not those it marks to keep)
        QString name = QStringLiteral("python3");
        bool asRoot = false;
        QString program = python;
        bool rootNeighbour = false; // root listens on 127.0.0.2 on the same port
    } cases[] = {
        {"IPv4", {}},
        {"IPv6", {QStringLiteral("ipv6")}},
        {"two processes sharing the socket", {QStringLiteral("fork")}},
        {"ignores SIGTERM", {QStringLiteral("ignore-term")}},
        {"root on another address of the port", {}, stopport::stopped, true, S, false, python, true},
        {"socket shared with a process of root", {QStringLiteral("pass")}, stopport::failed, true, S, true},
        {"main thread exited", {QStringLiteral("main-exits")}},
        {"named docker-proxy by prctl",
         {QStringLiteral("name=docker-proxy")},
         stopport::stopped,
         true,
         QStringLiteral("docker-proxy")},
        {"runs a program named docker-proxy",
         {},
         stopport::failed,
         false,
         QStringLiteral("docker-proxy"),
         false,
         proxy},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const auto listener = startListener(c.options, c.asRoot, c.program);
        ASSERT_TRUE(listener) << "no listener started";
        const auto neighbour =
            c.rootNeighbour
                ? startListener({QStringLiteral("host=127.0.0.2"), QStringLiteral("port=%1").arg(listener->port)}, true)
                : nullptr;
        ASSERT_EQ(neighbour != nullptr, c.rootNeighbour);

        const HelperRun run = runHelper({QString::number(listener->port), nobody});

        EXPECT_EQ(run.status, c.status) << run.err.toStdString();
        for (const qint64 pid : listener->pids) {
            const QString line =
                QStringLiteral("%1 %2 %3")
                    .arg(QLatin1String(c.stopped ? "stopped" : "not stopped"), QString::number(pid), c.name);
            EXPECT_TRUE(run.out.startsWith(line) || run.out.contains(u'\n' + line)) << run.out.toStdString();
            EXPECT_EQ(hasExited(pid), c.stopped) << pid;
        }
        EXPECT_EQ(run.out.count(u'\n'), listener->pids.size()) << "one line per process of the uid";
        for (const qint64 pid : listener->kept + (neighbour ? neighbour->pids : QList<qint64>{}))
            EXPECT_FALSE(hasExited(pid)) << "another user's process " << pid << " was signalled";
        EXPECT_EQ(portIsFree(listener->port), c.status == stopport::stopped && !neighbour);
        if (c.options.contains(QStringLiteral("ignore-term"))) {
            EXPECT_GE(run.milliseconds, 2000) << "SIGKILL came before the 2 s grace period ended";
        }
    }
}

TEST_F(StopPortHelperTest, RefusesEverythingButOnePlainPortAndUidAndSignalsNothing) {
    const auto listener = startListener({});
    ASSERT_TRUE(listener && !listener->pids.isEmpty());
    const QString port = QString::number(listener->port);
    const QString hex = "0x" + QString::number(listener->port, 16);
    const QList<QStringList> cases = {{},
                                      {port},
                                      {port, nobody, port},
                                      {port, "--force"},
                                      {"+" + port, nobody},
                                      {" " + port, nobody},
                                      {port + " ", nobody},
                                      {"0" + port, nobody},
                                      {"-" + port, nobody},
                                      {hex, nobody},
                                      {"2999", nobody},
                                      {"10000", nobody},
                                      {"", nobody},
                                      {port, "-1"},
                                      {port, "+65534"},
                                      {port, "4294967295"},
                                      {port, "0x10"},
                                      {port, ""}};
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
    const HelperRun run = runHelper({QString::number(freePort), nobody});
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

    const HelperRun run = runHelper({QString::number(port), QStringLiteral("0")});

    EXPECT_EQ(run.status, stopport::failed);
    EXPECT_TRUE(run.out.startsWith(QStringLiteral("not stopped %1 ").arg(getpid()))) << run.out.toStdString();
    EXPECT_TRUE(server.isListening());
}

// The helper is held (strace delays its read of the listener's name) while the listener dies
// and a process of the same user is given its pid: that process must not be signalled.
TEST_F(StopPortHelperTest, APidReusedWhileTheHelperRunsIsNotSignalled) {
    if (!QFile::exists(QStringLiteral("/usr/bin/strace")))
        GTEST_SKIP() << "needs /usr/bin/strace to hold the helper at a chosen point";
    auto listener = startListener({});
    ASSERT_TRUE(listener);
    const qint64 pid = listener->pids.first();
    const QString comm = QStringLiteral("/proc/%1/comm").arg(pid);
    QProcess traced;
    traced.start(QStringLiteral("/usr/bin/strace"),
                 {QStringLiteral("-o/dev/null"), QStringLiteral("-P"), comm, QStringLiteral("-etrace=openat"),
                  QStringLiteral("-einject=openat:delay_exit=5000000"), helper, QString::number(listener->port),
                  nobody});
    ASSERT_TRUE(traced.waitForStarted());
    // Held once the helper has the name open.
    bool held = false;
    for (int i = 0; i < 1000 && !held; ++i) {
        QThread::msleep(5);
        QFile file(QStringLiteral("/proc/%1/task/%1/children").arg(traced.processId()));
        file.open(QIODevice::ReadOnly);
        const QString child = QString::fromLatin1(file.readAll()).trimmed();
        const QString fds = QStringLiteral("/proc/%1/fd/").arg(child);
        for (const QString &fd : QDir(fds).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
            held = held || (!child.isEmpty() && QFile::symLinkTarget(fds + fd) == comm);
    }
    ASSERT_TRUE(held) << "the helper never opened " << comm.toStdString();
    listener->process->kill();
    listener->process->waitForFinished();
    listener->pids.clear();
    // The next pid the kernel gives is the listener's; another process may take it first.
    pid_t reused = -1;
    for (int attempt = 0; attempt < 50 && reused != pid; ++attempt) {
        QFile last(QStringLiteral("/proc/sys/kernel/ns_last_pid"));
        ASSERT_TRUE(last.open(QIODevice::WriteOnly));
        last.write(QByteArray::number(pid - 1));
        last.close();
        reused = fork();
        if (reused == 0) {
            if (setgid(65534) == 0 && setuid(65534) == 0)
                pause();
            _exit(1);
        }
        if (reused != pid) {
            ::kill(reused, SIGKILL);
            waitpid(reused, nullptr, 0);
        }
    }
    ASSERT_EQ(reused, pid) << "the listener's pid was not given again";

    traced.waitForFinished(10000);
    EXPECT_EQ(waitpid(reused, nullptr, WNOHANG), 0) << "the process that reused the pid was signalled";
    ::kill(reused, SIGKILL);
    waitpid(reused, nullptr, 0);
}

} // namespace
