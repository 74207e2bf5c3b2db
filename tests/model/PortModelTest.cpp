#include "model/DisplayText.h"
#include "model/PortEntry.h"

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

TEST(PortModel, ForeignListenersAndDetailsKeepTheirIdentity) {
    const PortEntry a = PortEntry::foreignListener(5432, 104, QStringLiteral("postgres"));
    const PortEntry b = PortEntry::foreignListener(5432, 0, QStringLiteral("root"));
    EXPECT_FALSE(a.hasProcess());
    EXPECT_NE(a.id(), b.id()) << "one row per port and owner";
    EXPECT_TRUE(displayOrderLess(b, a));

    const PortEntry lsofRow(42, 3000, QStringLiteral("node"));
    ProcessDetails details;
    details.workingDirectory = QStringLiteral("/srv");
    details.name = QStringLiteral("next-server (v14)");
    details.startTime = 1234;
    const PortEntry read = lsofRow.withDetails(details);
    EXPECT_EQ(read.id(), lsofRow.id());
    EXPECT_EQ(read.processName(), QStringLiteral("next-server (v14)"));
    EXPECT_EQ(read.startTime(), 1234u);
    EXPECT_EQ(lsofRow.withDetails({}).processName(), QStringLiteral("node")) << "lsof's name when comm is unread";
}

TEST(PortModel, DisplayTextEscapesControlsAndBidiOverrides) {
    const struct {
        QString in, out;
    } cases[] = {
        {QStringLiteral("node"), QStringLiteral("node")},
        {QStringLiteral("\u0441\u0435\u0440\u0432\u0435\u0440"),
         QStringLiteral("\u0441\u0435\u0440\u0432\u0435\u0440")},
        {QString(QChar(0x202E)) + "evil", QStringLiteral("\\u202Eevil")},
        {"/tmp/" + QString(QChar(0x2066)) + "txt.exe" + QChar(0x2069), QStringLiteral("/tmp/\\u2066txt.exe\\u2069")},
        {QStringLiteral("a\nb\tc\x1b[31m"), QStringLiteral("a\\nb\\tc\\x1B[31m")},
        {"x" + QString(QChar(0x85)) + "y" + QChar(0x2028) + "z" + QChar(0x7F), QStringLiteral("x\\x85y\\u2028z\\x7F")},
        // A typed backslash cannot pass for an escape; invisible format characters cannot hide.
        {QStringLiteral("a\\x1B[31m"), QStringLiteral("a\\\\x1B[31m")},
        {QStringLiteral("\u200Bpostgres\uFEFF\u00AD"), QStringLiteral("\\u200Bpostgres\\uFEFF\\xAD")},
        {QStringLiteral("tag\U000E0041 \U0001F600"), QStringLiteral("tag\\U000E0041 \U0001F600")},
        {QStringLiteral("lone") + QChar(0xDC80), QStringLiteral("lone\\uDC80")},
    };
    for (const auto &c : cases)
        EXPECT_EQ(displayText(c.in), c.out) << c.in.toStdString();
    EXPECT_EQ(wellFormed(QString(QChar(0xDC80)) + QStringLiteral("\U0001F600") + QChar(0xD800)),
              QStringLiteral("\uFFFD\U0001F600\uFFFD"));
}

TEST(PortModel, IdsAreOrderedPairsUsableAsKeysInStdAndQtContainers) {
    const PortEntryID a{7, 80}, b{80, 7};
    EXPECT_NE(a, b);
    EXPECT_EQ((std::unordered_set<PortEntryID>{a, b, PortEntryID{7, 80}}.size()), 2u);
    EXPECT_EQ((QSet<PortEntryID>{a, b, PortEntryID{7, 80}}.size()), 2);
}

} // namespace
