#include "discovery/LsofParser.h"

#include <QStringList>
#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

using namespace quaystone;

namespace {

// pid, port and the exact code units of the name: PortEntry's own equality would let names that are
// only canonically equivalent pass, and would not show which field differs.
using Row = std::tuple<qint32, qint64, std::u16string>;

std::vector<Row> rows(const QList<PortEntry> &entries) {
    std::vector<Row> out;
    for (const PortEntry &e : entries)
        out.emplace_back(e.pid(), e.port(), e.processName().toStdU16String());
    return out;
}

Row row(qint32 pid, qint64 port, const QString &name) {
    return {pid, port, name.toStdU16String()};
}

const QString header = QStringLiteral("COMMAND     PID USER   FD   TYPE DEVICE SIZE/OFF NODE NAME\n");

// One socket line as lsof prints it: NAME comes out as the address and the state.
QString socket(const QString &name, const QString &pid, const QString &address, const QString &state = "(LISTEN)") {
    return QStringLiteral("%1 %2 dev 23u IPv4 0x5f1 0t0 TCP %3 %4\n").arg(name, pid, address, state);
}

QString socket(const QString &name, qint32 pid, const QString &address, const QString &state = "(LISTEN)") {
    return socket(name, QString::number(pid), address, state);
}

struct Case {
    const char *name;
    QString text;
    std::vector<Row> expected;
};

std::vector<Case> cases() {
    const QString node = QStringLiteral("node");
    return {
        {"empty text", QString(), {}},
        {"newlines only", QStringLiteral("\n\r\n\u2028\u0085\n"), {}},
        {"header only", header, {}},
        {"header without newline then nothing", header.trimmed(), {}},
        {"first line is dropped even when it is a socket line",
         socket(node, 1, "*:3000") + socket(node, 2, "*:3001"),
         {row(2, 3001, node)}},
        {"a line of spaces before the header makes the header a (failing) socket line",
         QStringLiteral("   \t \n") + header + socket(node, 2, "*:3001"),
         {row(2, 3001, node)}},
        {"IPv4 and IPv6 twins of one socket are one entry",
         header + socket(node, 10, "*:5173") + socket(node, 10, "[::1]:5173"),
         {row(10, 5173, node)}},
        {"sorted by port, then pid",
         header + socket("b", 20, "*:8080") + socket("c", 9, "*:8080") + socket("a", 5, "*:3000") +
             socket("d", 1, "*:5173"),
         {row(5, 3000, "a"), row(1, 5173, "d"), row(9, 8080, "c"), row(20, 8080, "b")}},
        {"the later line wins",
         header + socket("old", 7, "*:4000") + socket("new", 7, "[::]:4000"),
         {row(7, 4000, "new")}},
        {"address forms",
         header + socket("v6", 1, "[::1]:5173") + socket("v4", 2, "127.0.0.1:8080") + socket("any", 3, "*:3000") +
             socket("nocolon", 4, "localhost") + socket("endcolon", 5, "127.0.0.1:") + socket("service", 6, "*:http"),
         {row(3, 3000, "any"), row(1, 5173, "v6"), row(2, 8080, "v4")}},
        {"pid forms",
         header + socket("max", "2147483647", "*:1") + socket("over", "2147483648", "*:2") +
             socket("min", "-2147483648", "*:3") + socket("under", "-2147483649", "*:4") +
             socket("plus", "+0012", "*:5") + socket("sign", "+", "*:6") + socket("twosigns", "--7", "*:7") +
             socket("hex", "0x1f", "*:8") + socket("word", "abc", "*:9") + socket("fullwidth", "\uFF17", "*:10"),
         {row(2147483647, 1, "max"), row(-2147483648, 3, "min"), row(12, 5, "plus")}},
        {"port forms",
         header + socket("plus", 1, "*:+80") + socket("minus", 2, "*:-1") + socket("zeros", 3, "*:0008080") +
             socket("max", 4, "*:9223372036854775807") + socket("over", 5, "*:9223372036854775808") +
             socket("min", 6, "*:-9223372036854775808") + socket("space", 7, "*:80\u00a0") +
             socket("inner", 8, "*:8_0"),
         {row(6, std::numeric_limits<qint64>::min(), "min"), row(2, -1, "minus"), row(1, 80, "plus"),
          row(7, 80, "space"), row(3, 8080, "zeros"), row(4, std::numeric_limits<qint64>::max(), "max")}},
        {"state field",
         header + socket("closed", 1, "*:1", "(CLOSED)") + socket("lower", 2, "*:2", "(listen)") +
             socket("suffix", 3, "*:3", "x(LISTEN)") + socket("cut", 4, "*:4", "(LISTEN") +
             socket("more", 5, "*:5", "(LISTEN) extra"),
         {row(3, 3, "suffix")}},
        {"nine fields with the state run into the address",
         header + QStringLiteral("node 1 dev 23u IPv4 0x5f1 0t0 TCP *:8080(LISTEN)\n") +
             QStringLiteral("node 2 dev 23u IPv4 0x5f1 0t0 *:8081 (LISTEN)\n") + // the address is field 8
             QStringLiteral("node 3 dev 23u IPv4 0x5f1 TCP *:8082\n") +
             QStringLiteral("node 4 dev 23u IPv4 0x5f1 0t0 TCP *:8083 x (LISTEN)\n"),
         {row(4, 8083, node)}},
        {"a bad line does not stop the lines after it",
         header + QStringLiteral("garbage\n\n  \n") + socket(node, "x", "*:1") + socket(node, 1, "*:3000"),
         {row(1, 3000, node)}},
        {"CR LF, lone CR and the other newlines all end lines",
         header.trimmed() + "\r\n" + socket("a", 1, "*:1").trimmed() + "\r\n\r\n" + socket("b", 2, "*:2").trimmed() +
             "\r" + socket("c", 3, "*:3").trimmed() + "\u000B" + socket("d", 4, "*:4").trimmed() + "\u000C" +
             socket("e", 5, "*:5").trimmed() + "\u0085" + socket("f", 6, "*:6").trimmed() + "\u2028" +
             socket("g", 7, "*:7").trimmed() + "\u2029" + socket("h", 8, "*:8").trimmed(),
         {row(1, 1, "a"), row(2, 2, "b"), row(3, 3, "c"), row(4, 4, "d"), row(5, 5, "e"), row(6, 6, "f"),
          row(7, 7, "g"), row(8, 8, "h")}},
        {"any White_Space separates fields, and runs of it count once",
         header +
             QStringLiteral("\t a\u00a0\u00a01\u3000dev\u2003x\u1680y\u202Fz\u205F0t0\u2000TCP \t*:9 (LISTEN)\t \n"),
         {row(1, 9, "a")}},
        {"characters that only look blank do not separate",
         header + socket(QStringLiteral("zw\u200Bsp"), 1, "*:1") +
             QStringLiteral("a 1\u200B2 dev 23u IPv4 0x5f1 0t0 TCP *:2 (LISTEN)\n"),
         {row(1, 1, QStringLiteral("zw\u200Bsp"))}},
        {"a space carrying a combining mark is a separator, mark and all",
         header + QStringLiteral("node \u0301 7 dev 23u IPv4 0x5f1 0t0 TCP *:7 (LISTEN)\n"),
         {row(7, 7, node)}},
        {"a combining mark on a digit, colon or parenthesis spoils the field",
         header + socket(node, "7\u0301", "*:1") + socket(node, 2, "*:80\u0301") + socket(node, 3, "*:\u030180") +
             socket(node, 4, "*:4", "(LISTEN)\u0301"),
         {}},
        {"a prepended mark takes the colon or parenthesis into its character",
         header + socket(node, 1, "[::1]\u0600:5173") + socket(node, 2, "*:2", "x\u0600(LISTEN)") +
             socket(node, 3, "10.0.0.1\u0600:0:3"),
         {row(3, 3, node)}},
        {"names are kept exactly as printed",
         header + socket(QStringLiteral("cafe\u0301"), 1, "*:1") + socket(QStringLiteral("caf\u00e9"), 2, "*:2") +
             socket(QStringLiteral("a\\x20b"), 3, "*:3") + socket(QStringLiteral("\U0001F680srv"), 4, "*:4") +
             socket(QStringLiteral("bad\uFFFDname"), 5, "*:5") + socket(QStringLiteral("Com.apple"), 6, "*:6"),
         {row(1, 1, QStringLiteral("cafe\u0301")), row(2, 2, QStringLiteral("caf\u00e9")), row(3, 3, "a\\x20b"),
          row(4, 4, QStringLiteral("\U0001F680srv")), row(5, 5, QStringLiteral("bad\uFFFDname")),
          row(6, 6, "Com.apple")}},
        {"last line without a newline", header + socket(node, 1, "*:1").trimmed(), {row(1, 1, node)}},
    };
}

TEST(LsofParser, ReadsTheListingFormat) {
    const LsofParser parser;
    for (const Case &c : cases()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(rows(parser.parseGeneral(c.text)), c.expected);
        EXPECT_EQ(rows(parser.parse(c.text)), c.expected);
        for (const PortEntry &e : parser.parse(c.text)) {
            EXPECT_EQ(e.id(), (PortEntryID{e.pid(), e.port()}));
            EXPECT_FALSE(e.workingDirectory());
        }
    }
}

// Random ASCII text built from pieces of real lines, so that many lines get far into the line rule.
QString randomAsciiListing(std::mt19937 &random) {
    static const QStringList pieces = {"COMMAND",
                                       "node",
                                       "1234",
                                       "-5",
                                       "+7",
                                       "0",
                                       "2147483648",
                                       "dev",
                                       "23u",
                                       "IPv4",
                                       "IPv6",
                                       "0x5f1",
                                       "0t0",
                                       "TCP",
                                       "*:3000",
                                       "[::1]:5173",
                                       "127.0.0.1:8080",
                                       "*:",
                                       ":80",
                                       "*:http",
                                       "(LISTEN)",
                                       "(ESTABLISHED)",
                                       "x(LISTEN)",
                                       "(LISTEN",
                                       ":",
                                       "(",
                                       ")",
                                       " ",
                                       "  ",
                                       "\t",
                                       "\n",
                                       "\r\n",
                                       "\r",
                                       "\v",
                                       "\f",
                                       "\n\n",
                                       "\r\r\n"};
    std::uniform_int_distribution<int> pieceCount(0, 120);
    std::uniform_int_distribution<int> kind(0, 9);
    std::uniform_int_distribution<qsizetype> pick(0, pieces.size() - 1);
    std::uniform_int_distribution<int> asciiChar(0, 0x7F);
    QString text;
    const int count = pieceCount(random);
    for (int i = 0; i < count; ++i) {
        const int k = kind(random);
        if (k < 6)
            text += pieces[pick(random)];
        else if (k < 8)
            text += QChar(asciiChar(random));
        else
            text += socket("n", QString::number(asciiChar(random) % 4), "*:" + QString::number(asciiChar(random) % 4));
    }
    return text;
}

TEST(LsofParser, AsciiReadingMatchesTheGeneralReading) {
    const LsofParser parser;
    QStringList texts;
    for (const Case &c : cases()) {
        if (LsofParser::isAscii(c.text))
            texts << c.text;
    }
    // Every ASCII character, alone and around a line, including NUL, DEL and the controls that are not White_Space.
    for (char16_t c = 0; c < 0x80; ++c) {
        const QString ch(QChar{c});
        texts << header + ch + socket("a", 1, "*:1") + ch + socket("b" + ch + "c", 2, "*:2" + ch) + ch;
        texts << header + socket("a", 1, "*:1").replace(' ', ch);
    }
    std::mt19937 random(20240611);
    for (int i = 0; i < 5000; ++i)
        texts << randomAsciiListing(random);

    qsizetype nonEmpty = 0;
    for (const QString &text : texts) {
        ASSERT_TRUE(LsofParser::isAscii(text));
        const auto general = rows(parser.parseGeneral(text));
        ASSERT_EQ(rows(parser.parseAscii(text)), general) << "text: " << text.toStdString();
        nonEmpty += general.empty() ? 0 : 1;
    }
    EXPECT_GT(nonEmpty, texts.size() / 4) << "the inputs exercise the line rule, not only its rejections";
}

TEST(LsofParser, OnlyAsciiTextTakesTheAsciiPath) {
    EXPECT_TRUE(LsofParser::isAscii(u""));
    EXPECT_TRUE(LsofParser::isAscii(u"abc\x7f\r\n"));
    EXPECT_FALSE(LsofParser::isAscii(u"abc\u0080"));
    EXPECT_FALSE(LsofParser::isAscii(u"\u0085"));
    EXPECT_FALSE(LsofParser::isAscii(u"x\U0001F680"));
}

// The general reading relies on QChar::isSpace being exactly Unicode's White_Space property.
TEST(LsofParser, QtWhiteSpaceIsUnicodeWhiteSpace) {
    const auto whiteSpace = [](char32_t c) {
        return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
               (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
    };
    std::vector<char32_t> differing;
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        if (QChar::isSpace(c) != whiteSpace(c))
            differing.push_back(c);
    }
    EXPECT_EQ(differing, std::vector<char32_t>{});
}

} // namespace
