#include "discovery/LsofParser.h"

#include <QStringList>
#include <gtest/gtest.h>

#include <random>
#include <string>

using namespace quaystone;

namespace {

// "pid port name; ..." with the exact code units of each name (PortEntry's equality accepts equivalent names).
std::string listing(const QList<PortEntry> &entries) {
    QStringList out;
    for (const PortEntry &e : entries)
        out << QStringLiteral("%1 %2 %3").arg(e.pid()).arg(e.port()).arg(e.processName());
    return out.join(u"; ").toStdString();
}

const QString header = QStringLiteral("COMMAND     PID USER   FD   TYPE DEVICE SIZE/OFF NODE NAME\n");

// One socket line as lsof prints it; lsof's NAME column is the address and the state.
QString socket(const QString &name, const QString &pid, const QString &address, const QString &state = "(LISTEN)") {
    return QStringLiteral("%1 %2 dev 23u IPv4 0x5f1 0t0 TCP %3 %4\n").arg(name, pid, address, state);
}

TEST(LsofParser, ReadsTheListingFormat) {
    const struct {
        const char *name;
        QString text;
        std::string expected;
    } cases[] = {
        {"the first line is dropped even when it looks like a socket",
         socket("a", "1", "*:3000") + socket("b", "2", "*:3001"), "2 3001 b"},
        {"sorted by port, then pid; IPv4 and IPv6 twins are one entry, the later line winning",
         header + socket("old", "7", "*:4000") + socket("b", "20", "*:8080") + socket("c", "9", "*:8080") +
             socket("new", "7", "[::1]:4000") + socket("a", "5", "127.0.0.1:3000"),
         "5 3000 a; 7 4000 new; 9 8080 c; 20 8080 b"},
        {"every newline ends a line; blank lines are skipped",
         header.trimmed() + "\r\n" + socket("a", "1", "*:1").trimmed() + "\r\n\r\n \t\n" +
             socket("b", "2", "*:2").trimmed() + "\r" + socket("c", "3", "*:3").trimmed() + "\v" +
             socket("d", "4", "*:4").trimmed() + "\f" + socket("e", "5", "*:5").trimmed() + u'\u0085' +
             socket("f", "6", "*:6").trimmed(),
         "1 1 a; 2 2 b; 3 3 c; 4 4 d; 5 5 e; 6 6 f"},
        {"pid and port forms",
         header + socket("max", "2147483647", "*:1") + socket("over", "2147483648", "*:2") +
             socket("word", "abc", "*:3") + socket("plus", "4", "*:+80") + socket("minus", "5", "*:-1") +
             socket("service", "6", "*:http") + socket("nocolon", "7", "localhost"),
         "5 -1 minus; 2147483647 1 max; 4 80 plus"},
        {"state and field count",
         header + socket("closed", "1", "*:1", "(ESTABLISHED)") + socket("suffix", "2", "*:2", "x(LISTEN)") +
             socket("cut", "3", "*:3", "(LISTEN") + "eight 4 dev 23u IPv4 0t0 *:4 (LISTEN)\n" +
             "glued 5 dev 23u IPv4 0x5f1 0t0 TCP *:5(LISTEN)\n" + socket("extra", "6", "*:6", "x (LISTEN)"),
         "2 2 suffix; 6 6 extra"},
        {"a space carrying a combining mark separates; a colon or parenthesis joined to a mark is no such thing",
         header + "node \u0301 7 dev 23u IPv4 0x5f1 0t0 TCP *:7 (LISTEN)\n" + socket("node", "8", "[::1]\u0600:8") +
             socket("node", "9", "*:9", "x\u0600(LISTEN)"),
         "7 7 node"},
        {"non-ASCII White_Space separates and LS and PS end lines; a zero-width space does neither",
         header + "a\u00a0\u00a01\u3000dev 23u IPv4 0x5f1 0t0\u2003TCP *:9 (LISTEN)\u2028" +
             socket("zw\u200Bsp", "1", "*:1").trimmed() + "\u2029b 1\u200B2 dev 23u IPv4 0x5f1 0t0 TCP *:2 (LISTEN)",
         "1 1 zw\u200Bsp; 1 9 a"},
    };
    const LsofParser parser;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        // parse() takes the ASCII path whenever the text allows it.
        EXPECT_EQ(listing(parser.parse(c.text)), c.expected);
        EXPECT_EQ(listing(parser.parseGeneral(c.text)), c.expected);
        EXPECT_EQ(listing(parser.parseMixed(c.text)), c.expected);
    }
}

// Random ASCII text built from pieces of real lines, so that many lines get far into the line rule.
TEST(LsofParser, AsciiReadingMatchesTheGeneralReading) {
    const QStringList pieces =
        (QStringLiteral("COMMAND|node|1234|-5|+7|2147483648|dev|23u|IPv4|0x5f1|0t0|TCP|*:3000|[::1]:5173|*:|*:http|"
                        "(LISTEN)|(CLOSED)|x(LISTEN)|(LISTEN|:|(|)| |  |\t|\n|\r\n|\r|\v|\f|\r\r\n|") +
         socket("n", "1", "*:1") + u'|' + socket("n", "2", "[::1]:1") + u'|' + socket("n", "1", "*:2"))
            .split(u'|');
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> kind(0, 9), asciiChar(0, 0x7F), pieceCount(0, 120);
    std::uniform_int_distribution<qsizetype> pick(0, pieces.size() - 1);
    const LsofParser parser;
    int nonEmpty = 0;
    for (int i = 0; i < 5000; ++i) {
        QString text;
        for (int n = pieceCount(random); n > 0; --n)
            text += kind(random) < 8 ? pieces[pick(random)] : QString(QChar(asciiChar(random)));
        ASSERT_TRUE(LsofParser::isAscii(text));
        const std::string general = listing(parser.parseGeneral(text));
        ASSERT_EQ(listing(parser.parseAscii(text)), general) << "text: " << text.toStdString();
        nonEmpty += general.empty() ? 0 : 1;
    }
    EXPECT_GT(nonEmpty, 1000) << "the inputs exercise the line rule, not only its rejections";
}

// Lines of lsof with non-ASCII characters sprinkled in: marks that join or tailor clusters by script
// (Devanagari, Thai, Khmer, Myanmar, Hangul), prepend marks, non-ASCII spaces and newlines, emoji
// sequences, regional indicators and surrogates, alone or in pairs.
TEST(LsofParser, MixedReadingMatchesTheGeneralReading) {
    const QStringList sprinkles =
        QStringLiteral("\u0301|\u094D|\u0915|\u093F|\u0E01|\u0E31|\u1780|\u17D2|\u1000|\u1039|"
                       "\u1100|\u1161|\u0600|\u00a0|\u3000|\u2028|\u0085|\u4E2D|\u200D|"
                       "\u00e9|\U0001F469\u200D\U0001F4BB|\U0001F1E9\U0001F1EA|\xD83D|\xDC69")
            .split(u'|');
    const QStringList pieces =
        QStringLiteral("node|1|22|dev|TCP|*:3000|[::1]:80|(LISTEN)|:|(| | |\t|\n|\r\n|x|7| 1 ").split(u'|');
    std::mt19937 random(20261206);
    std::uniform_int_distribution<int> kind(0, 9), pieceCount(0, 50);
    std::uniform_int_distribution<qsizetype> pickSprinkle(0, sprinkles.size() - 1), pickPiece(0, pieces.size() - 1);
    const LsofParser parser;
    int nonEmpty = 0;
    for (int i = 0; i < 6000; ++i) {
        QString text;
        for (int n = pieceCount(random); n > 0; --n) {
            const int k = kind(random);
            text += k < 4   ? sprinkles[pickSprinkle(random)]
                    : k < 5 ? socket("n", "1", "*:1")
                            : pieces[pickPiece(random)];
        }
        const std::string general = listing(parser.parseGeneral(text));
        ASSERT_EQ(listing(parser.parseMixed(text)), general) << "text: " << text.toStdString();
        nonEmpty += general.empty() ? 0 : 1;
    }
    EXPECT_GT(nonEmpty, 1000) << "the inputs exercise the line rule, not only its rejections";
}

} // namespace
