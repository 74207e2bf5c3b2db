#include "discovery/ListeningSocketTable.h"
#include "discovery/SystemdCgroup.h"

#include <QCoreApplication>
#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include <unistd.h>

using namespace quaystone;

namespace {

// Lines as the kernel writes them; IPv4 lines are padded with spaces to a fixed width.
const QByteArray header4 = "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
                           "timeout inode                                                     ";
const QByteArray header6 = "  sl  local_address                         remote_address                        st "
                           "tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode";
const QByteArray listen4 = "   0: 0100007F:1F90 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000        0 "
                           "21447 1 000000001f82b38f 100 0 0 10 0                       ";

QByteArray withState(const char *state) {
    QByteArray line = listen4;
    return line.replace(34, 2, state);
}

TEST(ListeningSocketTable, ParsesListeningSocketsOfRealFormatLinesAndSkipsTheRest) {
    struct Case {
        const char *what;
        QByteArray line;
        std::optional<ListeningSocket> expected;
    };
    const Case cases[] = {
        {"IPv4 on 127.0.0.1:8080", listen4, ListeningSocket{8080, 1000, 21447}},
        {"IPv6 on [::]:5432 owned by postgres",
         "   0: 00000000000000000000000000000000:1538 00000000000000000000000000000000:0000 0A 00000000:00000000 "
         "00:00000000 00000000   104        0 30011 1 0000000000000000 100 0 0 10 0",
         ListeningSocket{5432, 104, 30011}},
        {"IPv4-mapped IPv6, lower-case hex, large slot and inode",
         "12345: 0000000000000000FFFF00000100007F:270f 00000000000000000000000000000000:0000 0A 00000000:00000000 "
         "00:00000000 00000000 4294967294 0 18446744073709551 1 0 100 0 0 10 0",
         ListeningSocket{9999, 4294967294u, 18446744073709551ull}},
        {"port outside the range is still a listener", withState("0A").replace(15, 4, "0016"),
         ListeningSocket{22, 1000, 21447}},
        {"established", withState("01"), std::nullopt},
        {"time-wait, which has no owner",
         "   1: 020200C0:902A 507100CB:0050 06 00000000:00000000 03:00000872 00000000     0        0 0 3 "
         "00000000fb7fdd25",
         std::nullopt},
        {"IPv4 header", header4, std::nullopt},
        {"IPv6 header", header6, std::nullopt},
        {"cut before the inode", listen4.left(listen4.indexOf(" 0 21447") + 2), std::nullopt},
        {"cut inside the local address", listen4.left(12), std::nullopt},
        {"address of 7 digits", QByteArray(listen4).remove(6, 1), std::nullopt},
        {"port of 3 digits", QByteArray(listen4).remove(15, 1), std::nullopt},
        {"state of 1 digit", QByteArray(listen4).remove(34, 1), std::nullopt},
        {"not hex", QByteArray(listen4).replace(6, 1, "G"), std::nullopt},
        {"uid beyond 32 bits", QByteArray(listen4).replace(" 1000 ", " 4294967296 "), std::nullopt},
        {"no slot colon", QByteArray(listen4).remove(4, 1), std::nullopt},
        {"garbage", "hello world", std::nullopt},
        {"empty", "", std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const QList<ListeningSocket> expected = c.expected ? QList{*c.expected} : QList<ListeningSocket>{};
        EXPECT_EQ(ListeningSocketTable::parse(c.line + '\n'), expected);
        EXPECT_EQ(ListeningSocketTable::parse(c.line), expected) << "without the final newline";
    }

    // Every state but LISTEN (0A) is left out.
    for (int state = 0x01; state <= 0x0C; ++state) {
        const QByteArray hex = QByteArray::number(state, 16).toUpper().rightJustified(2, '0');
        EXPECT_EQ(ListeningSocketTable::parse(withState(hex.constData())).size(), state == 0x0A ? 1 : 0) << state;
    }

    // A whole table keeps its order; a garbled line does not stop the lines after it.
    const QByteArray table = header4 + '\n' + listen4 + "\nxx\n" + withState("01") + '\n' +
                             QByteArray(listen4).replace(15, 4, "0BB8").replace(" 21447 ", " 00042 ") + '\n';
    EXPECT_EQ(ListeningSocketTable::parse(table), (QList<ListeningSocket>{{8080, 1000, 21447}, {3000, 1000, 42}}));
}

TEST(ListeningSocketTable, ReadsEveryTableInPiecesAndSkipsMissingOnes) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // Larger than the reader's first buffer, so lines straddle its refills.
    QByteArray big = header4 + '\n';
    QList<ListeningSocket> expected;
    for (int i = 0; i < 2000; ++i) {
        const quint16 port = quint16(3000 + i);
        big += QByteArray(listen4)
                   .replace(15, 4, QByteArray::number(port, 16).toUpper().rightJustified(4, '0'))
                   .replace(0, 4, QByteArray::number(i).rightJustified(4, ' ')) +
               '\n';
        expected.append({port, 1000, 21447});
    }
    const QByteArray six = header6 + "\n   0: 00000000000000000000000000000001:1F90 "
                                     "00000000000000000000000000000000:0000 0A 00000000:00000000 00:00000000 "
                                     "00000000     0        0 77 1 0 100 0 0 10 0";
    expected.append({8080, 0, 77});
    const QString tcp = dir.filePath("tcp"), tcp6 = dir.filePath("tcp6");
    for (const auto &[path, text] : {std::pair{tcp, big}, std::pair{tcp6, six}}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
    }
    EXPECT_EQ(ListeningSocketTable({tcp, dir.filePath("missing"), tcp6}).read(), expected);
}

TEST(ListeningSocketTable, TheKernelsTablesShowThisProcessListeningBothWays) {
    QTcpServer v4, v6;
    ASSERT_TRUE(v4.listen(QHostAddress::LocalHost));
    ASSERT_TRUE(v6.listen(QHostAddress::LocalHostIPv6) || v6.listen(QHostAddress::AnyIPv6)) << "an IPv6 listener";
    QList<ListeningSocket> expected;
    for (const QTcpServer *server : {&v4, &v6}) {
        // The socket's inode, as its descriptor's link names it: "socket:[12345]".
        char target[64] = {};
        const QByteArray link = "/proc/self/fd/" + QByteArray::number(server->socketDescriptor());
        ASSERT_GT(::readlink(link.constData(), target, sizeof target - 1), 8);
        expected.append(
            {server->serverPort(), quint32(::geteuid()), QByteArray(target).mid(8).chopped(1).toULongLong()});
    }

    const std::optional<QList<ListeningSocket>> diag = ListeningSocketTable::readSocketDiag();
    ASSERT_TRUE(diag) << "sock_diag netlink refused";
    const QList<ListeningSocket> text = ListeningSocketTable::readTextTables(ListeningSocketTable::procTablePaths());
    for (const QList<ListeningSocket> &sockets : {*diag, text, ListeningSocketTable().read()}) {
        for (const ListeningSocket &socket : expected)
            EXPECT_TRUE(std::ranges::find_if(sockets,
                                             [&](ListeningSocket s) {
                                                 return s.port == socket.port && s.uid == socket.uid &&
                                                        s.inode == socket.inode;
                                             }) != sockets.end())
                << "port " << socket.port << " among " << sockets.size() << " listeners";
    }
    // sock_diag names the cgroup of the socket's creator: this process's own.
    QFile own(QStringLiteral("/proc/self/cgroup"));
    ASSERT_TRUE(own.open(QIODevice::ReadOnly));
    const auto mine = std::ranges::find(*diag, expected.first().inode, &ListeningSocket::inode);
    ASSERT_NE(mine, diag->end());
    EXPECT_EQ(systemdcgroup::pathsOfIds({mine->cgroupId}).value(mine->cgroupId),
              systemdcgroup::pathOfProcessFile(own.readAll()).value_or("?"));
}

} // namespace
