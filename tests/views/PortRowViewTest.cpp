#include "ViewTestSupport.h"

#include "views/KillButton.h"
#include "views/PopoverFooterView.h"
#include "views/PopoverHeaderView.h"
#include "views/ViewStyle.h"

#include <QAbstractButton>
#include <QScrollBar>
#include <QTest>

using namespace quaystone;
using namespace quaystone::test;

namespace {

const QString longDirectory =
    QStringLiteral("/home/dev/src/clients/an-unusually-long-organisation-name/monorepo/services/gateway/api-server");

void click(QWidget *widget, QPoint at = {}) {
    ASSERT_TRUE(widget);
    QTest::mouseClick(widget, Qt::LeftButton, {}, at.isNull() ? widget->rect().center() : at);
}

QColor blend(const QColor &under, const QColor &over) {
    const auto mix = [&](float a, float b) { return a * (1 - over.alphaF()) + b * over.alphaF(); };
    return QColor::fromRgbF(mix(under.redF(), over.redF()), mix(under.greenF(), over.greenF()),
                            mix(under.blueF(), over.blueF()));
}

bool near(const QColor &a, const QColor &b, int tolerance) {
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

bool containsColour(const QImage &image, const QColor &colour) {
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (near(image.pixelColor(x, y), colour, 24))
                return true;
        }
    }
    return false;
}

TEST_F(PopoverViewTest, RowsShowPortNameAndDirectoryAtHeightsKnownBeforeBuilding) {
    load({entry(10, 3000, QStringLiteral("node"), longDirectory), entry(11, 3001, QStringLiteral("python3")),
          entry(12, 65535, QStringLiteral("<b>markup</b>"), QStringLiteral("/srv"))});
    showView();

    const struct {
        qint64 port;
        QStringList texts;
        QString selectName;
        QString killName;
    } rows[] = {
        {3000, {"3000", "node", longDirectory}, "Port 3000, node", "Kill node on port 3000"},
        {3001, {"3001", "python3"}, "Port 3001, python3", "Kill python3 on port 3001"},
        {65535, {"65535", "<b>markup</b>", "/srv"}, "Port 65535, <b>markup</b>", "Kill <b>markup</b> on port 65535"},
    };
    const PortRowView::Heights heights;
    for (const auto &r : rows) {
        SCOPED_TRACE(r.port);
        PortRowView *row = rowOf(r.port);
        ASSERT_TRUE(row);
        EXPECT_EQ(textsOf(row), r.texts);
        EXPECT_EQ(find(QStringLiteral("port-row-%1").arg(r.port))->accessibleName(), r.selectName);
        EXPECT_EQ(find(QStringLiteral("kill-port-%1").arg(r.port))->accessibleName(), r.killName);
        // The list placed the row at the height it computed without building it.
        EXPECT_EQ(row->height(), heights.of(r.texts.size() == 3, false));
        EXPECT_EQ(row->height(), row->sizeHint().height());
        EXPECT_EQ(row->width(), 320);
    }

    // A long directory loses its beginning, not its end.
    QList<TextLabel *> labels = rowOf(3000)->findChildren<TextLabel *>();
    const auto directory =
        std::find_if(labels.begin(), labels.end(), [](auto *l) { return l->text() == longDirectory; });
    ASSERT_NE(directory, labels.end());
    const QString shown = (*directory)->displayedText();
    EXPECT_TRUE(shown.startsWith(QChar(0x2026))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QStringLiteral("/api-server"))) << shown.toStdString();
}

TEST_F(PopoverViewTest, TwoProcessesOnOnePortAreTwoRowsWithTheSameIdentifiers) {
    load({entry(10, 3000, QStringLiteral("node")), entry(11, 3000, QStringLiteral("node"))});
    EXPECT_EQ(view().findChildren<QAbstractButton *>(QStringLiteral("port-row-3000")).size(), 2);
    EXPECT_EQ(view().findChildren<QAbstractButton *>(QStringLiteral("kill-port-3000")).size(), 2);
}

TEST_F(PopoverViewTest, FailedKillShowsItsErrorInTheRowUntilAKillSucceeds) {
    const struct {
        ProcessKillOutcome outcome;
        QString text;
    } cases[] = {
        {ProcessKillOutcome::permissionDenied, "Permission denied"},
        {ProcessKillOutcome::failed, "Could not kill process"},
    };
    const QList<PortEntry> listed{entry(10, 3000, QStringLiteral("node")), entry(11, 3001, QStringLiteral("ruby"))};
    const PortRowView::Heights heights;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        reset();
        load(listed);
        showView();

        m_killer->outcome = c.outcome;
        click(find(QStringLiteral("kill-port-3000")));
        drainEvents();
        auto *error = find<TextLabel>(QStringLiteral("row-error-3000"));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->text(), c.text);
        EXPECT_EQ(error->accessibleName(), c.text);
        EXPECT_EQ(error->tone(), TextTone::red);
        EXPECT_TRUE(find(QStringLiteral("port-row-3000"))->isAncestorOf(error));
        EXPECT_EQ(textsOf(rowOf(3000)), (QStringList{"3000", "node", c.text}));
        EXPECT_EQ(rowOf(3000)->height(), heights.of(false, true));
        EXPECT_EQ(rowOf(3000)->height(), rowOf(3000)->sizeHint().height());
        EXPECT_EQ(rowOf(3001)->y(), rowOf(3000)->geometry().bottom() + 1);
        EXPECT_FALSE(find(QStringLiteral("row-error-3001")));

        m_killer->outcome = ProcessKillOutcome::killed;
        click(find(QStringLiteral("kill-port-3000")));
        drainEvents();
        // The listing still reports the process, now without an error.
        ASSERT_TRUE(rowOf(3000));
        EXPECT_FALSE(find(QStringLiteral("row-error-3000")));
        EXPECT_EQ(rowOf(3000)->height(), heights.of(false, false));
        EXPECT_EQ(m_killer->pids, (QList<qint32>{10, 10}));
    }
}

TEST_F(PopoverViewTest, ClickingARowSelectsItAndClickingItsKillButtonDoesNot) {
    load({entry(10, 3000, QStringLiteral("node")), entry(11, 3001, QStringLiteral("ruby"))});
    showView();
    const PortEntryID first{10, 3000};
    const PortEntryID second{11, 3001};
    ASSERT_EQ(store().selectedEntryID(), first);

    m_killer->outcome = ProcessKillOutcome::permissionDenied;
    click(find(QStringLiteral("kill-port-3001")));
    EXPECT_EQ(store().selectedEntryID(), first);
    drainEvents();
    EXPECT_EQ(m_killer->pids, QList<qint32>{11});
    EXPECT_EQ(store().selectedEntryID(), first);

    click(find(QStringLiteral("port-row-3001")));
    EXPECT_EQ(store().selectedEntryID(), second);
    drainEvents();
    click(find(QStringLiteral("port-row-3001")));
    EXPECT_EQ(store().selectedEntryID(), second);
    drainEvents();
    // The row's padding belongs to the row too.
    click(rowOf(3000), QPoint(3, 3));
    EXPECT_EQ(store().selectedEntryID(), first);
}

TEST_F(PopoverViewTest, SelectedRowIsTintedWithARedCross) {
    load({entry(10, 3000, QStringLiteral("node")), entry(11, 3001, QStringLiteral("ruby"))});
    showView();
    const QPalette palette = view().palette();
    const QColor clear = palette.color(QPalette::Base);
    const QColor tinted = blend(clear, selectionTint(palette));
    ASSERT_FALSE(near(clear, tinted, 2));

    const struct {
        PortEntryID selected;
        qint64 tintedPort;
        qint64 clearPort;
    } cases[] = {{{10, 3000}, 3000, 3001}, {{11, 3001}, 3001, 3000}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.tintedPort);
        store().setSelectedEntryID(c.selected);
        drainEvents();
        const QImage image = view().grab().toImage();
        const auto backgroundOf = [&](qint64 port) {
            return image.pixelColor(rowOf(port)->mapTo(&view(), QPoint(2, 2)));
        };
        EXPECT_TRUE(near(backgroundOf(c.tintedPort), tinted, 2));
        EXPECT_TRUE(near(backgroundOf(c.clearPort), clear, 2));

        const auto crossOf = [&](qint64 port) { return find<KillButton>(QStringLiteral("kill-port-%1").arg(port)); };
        EXPECT_EQ(crossOf(c.tintedPort)->tone(), TextTone::red);
        EXPECT_EQ(crossOf(c.clearPort)->tone(), TextTone::secondary);
        EXPECT_TRUE(containsColour(crossOf(c.tintedPort)->grab().toImage(), toneColour(palette, TextTone::red)));
        EXPECT_FALSE(containsColour(crossOf(c.clearPort)->grab().toImage(), toneColour(palette, TextTone::red)));
    }
}

TEST_F(PopoverViewTest, OnlyRowsInViewExistAndTheListScrollsUnderAFixedHeaderAndFooter) {
    QList<PortEntry> many;
    for (int i = 0; i < 1000; ++i)
        many.append(entry(100 + i, 3000 + i, QStringLiteral("server")));
    load(many);
    showView();

    auto *list = view().findChild<PortListView *>();
    ASSERT_TRUE(list);
    QScrollBar *bar = list->verticalScrollBar();
    const int rowHeight = PortRowView::Heights().of(false, false);
    EXPECT_EQ(list->height(), 320);
    EXPECT_TRUE(bar->isVisibleTo(&view()));
    EXPECT_EQ(bar->maximum(), 1000 * rowHeight - 320);
    const int inView = 320 / rowHeight + 1;
    const auto built = [&] { return view().findChildren<PortRowView *>().size(); };
    EXPECT_LE(built(), inView + 1);
    EXPECT_TRUE(rowOf(3000));
    EXPECT_FALSE(rowOf(3999));

    QWidget *header = view().findChild<PopoverHeaderView *>();
    QWidget *footer = view().findChild<PopoverFooterView *>();
    const QPoint headerAt = header->mapTo(&view(), QPoint());
    const QPoint footerAt = footer->mapTo(&view(), QPoint());
    bar->setValue(bar->maximum());
    EXPECT_TRUE(rowOf(3999));
    EXPECT_FALSE(rowOf(3000));
    EXPECT_LE(built(), inView + 1);
    EXPECT_EQ(rowOf(3999)->geometry().bottom(), list->viewport()->height() - 1);
    EXPECT_EQ(header->mapTo(&view(), QPoint()), headerAt);
    EXPECT_EQ(footer->mapTo(&view(), QPoint()), footerAt);

    // A selection moved out of sight, as the keyboard does, brings its row into view.
    store().setSelectedEntryID(PortEntryID{600, 3500});
    drainEvents();
    ASSERT_TRUE(rowOf(3500));
    EXPECT_GE(rowOf(3500)->y(), 0);
    EXPECT_LE(rowOf(3500)->geometry().bottom(), list->viewport()->height() - 1);
    EXPECT_LE(built(), inView + 1);
}

} // namespace
