#include "model/PortEntry.h"
#include "model/PortRange.h"

#include <QHash>
#include <QSet>
#include <gtest/gtest.h>

#include <unordered_set>

using namespace quaystone;

namespace {

TEST(PortModel, EntryEqualityIsFieldByFieldWithCanonicalStrings) {
    const QString composed = QStringLiteral("caf\u00e9");    // é as one code point
    const QString decomposed = QStringLiteral("cafe\u0301"); // e + combining acute
    struct Case {
        const char *name;
        PortEntry a;
        PortEntry b;
        bool equal;
    };
    const QList<Case> cases = {
        {"same fields", PortEntry(1, 80, QStringLiteral("node")), PortEntry(1, 80, QStringLiteral("node")), true},
        {"other name, same id", PortEntry(1, 80, QStringLiteral("node")), PortEntry(1, 80, QStringLiteral("vite")),
         false},
        {"names differ only in normalisation", PortEntry(1, 80, composed), PortEntry(1, 80, decomposed), true},
        {"directories differ only in normalisation", PortEntry(1, 80, QStringLiteral("n"), composed),
         PortEntry(1, 80, QStringLiteral("n"), decomposed), true},
        {"absent vs empty directory", PortEntry(1, 80, QStringLiteral("n")),
         PortEntry(1, 80, QStringLiteral("n"), QString()), false},
        {"other port", PortEntry(1, 80, QStringLiteral("n")), PortEntry(1, 81, QStringLiteral("n")), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.a == c.b, c.equal);
        EXPECT_EQ(c.a.id() == c.b.id(), c.a.pid() == c.b.pid() && c.a.port() == c.b.port());
    }
}

TEST(PortModel, IdsAreOrderedPairsUsableAsKeysInStdAndQtContainers) {
    const PortEntryID a{7, 80}, b{80, 7};
    EXPECT_NE(a, b);
    EXPECT_EQ(PortEntry(7, 80, QString()).id(), a);

    std::unordered_set<PortEntryID> stdSet{a, b, PortEntryID{7, 80}};
    QSet<PortEntryID> qtSet{a, b, PortEntryID{7, 80}};
    EXPECT_EQ(stdSet.size(), 2u);
    EXPECT_EQ(qtSet.size(), 2);
    EXPECT_NE(std::hash<PortEntryID>{}(a), std::hash<PortEntryID>{}(b)) << "pid and port are not interchangeable";
    EXPECT_NE(qHash(a), qHash(b));
}

TEST(PortModel, RangeIncludesBothEndsAndAnInvertedRangeNothing) {
    const PortRange watched{3000, 9999}, single{8080, 8080}, inverted{9999, 3000};
    EXPECT_FALSE(watched.contains(2999));
    EXPECT_TRUE(watched.contains(3000));
    EXPECT_TRUE(watched.contains(9999));
    EXPECT_FALSE(watched.contains(10000));
    EXPECT_TRUE(single.contains(8080));
    EXPECT_FALSE(single.contains(8081));
    for (qint64 port : {2999, 3000, 5000, 9999, 10000})
        EXPECT_FALSE(inverted.contains(port));
}

} // namespace
