#include "model/PortEntry.h"
#include "model/PortRange.h"

#include <QSet>
#include <gtest/gtest.h>

#include <unordered_set>

using namespace quaystone;

namespace {

TEST(PortModel, EntriesCompareFieldByFieldWithCanonicallyEquivalentStrings) {
    const QString composed = QStringLiteral("caf\u00e9"), decomposed = QStringLiteral("cafe\u0301");
    const PortEntry node(1, 80, QStringLiteral("node"));
    EXPECT_EQ(node, PortEntry(1, 80, QStringLiteral("node")));
    EXPECT_NE(node, PortEntry(1, 80, QStringLiteral("vite")));
    EXPECT_EQ(node.id(), PortEntry(1, 80, QStringLiteral("vite")).id());
    EXPECT_EQ(PortEntry(1, 80, composed), PortEntry(1, 80, decomposed));
    EXPECT_EQ(PortEntry(1, 80, QString(), composed), PortEntry(1, 80, QString(), decomposed));
    EXPECT_NE(node, node.withWorkingDirectory(QString())) << "absent and empty directories differ";
}

TEST(PortModel, IdsAreOrderedPairsUsableAsKeysInStdAndQtContainers) {
    const PortEntryID a{7, 80}, b{80, 7};
    EXPECT_NE(a, b);
    EXPECT_EQ((std::unordered_set<PortEntryID>{a, b, PortEntryID{7, 80}}.size()), 2u);
    EXPECT_EQ((QSet<PortEntryID>{a, b, PortEntryID{7, 80}}.size()), 2);
}

TEST(PortModel, RangesIncludeBothEndsAndAnInvertedRangeNothing) {
    EXPECT_FALSE(PortRange(3000, 9999).contains(2999));
    EXPECT_TRUE(PortRange(3000, 9999).contains(3000));
    EXPECT_TRUE(PortRange(3000, 9999).contains(9999));
    EXPECT_FALSE(PortRange(3000, 9999).contains(10000));
    EXPECT_TRUE(PortRange(8080, 8080).contains(8080));
    for (qint64 port : {2999, 3000, 5000, 9999})
        EXPECT_FALSE(PortRange(9999, 3000).contains(port));
}

} // namespace
