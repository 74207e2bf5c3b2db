#include "ViewTestSupport.h"

#include "views/KillButton.h"
#include "views/ViewStyle.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QPointer>
#include <QScrollBar>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>

#include <map>

using namespace quaystone;
using namespace quaystone::test;

namespace {

const QString longDirectory =
    QStringLiteral("/home/dev/src/clients/an-unusually-long-organisation-name/monorepo/services/gateway/api-server");

TEST_F(PopoverViewTest, RowsShowTheirEntryAndFollowItsChangesInPlace) {
    const QList<PortEntry> passes[] = {
        {PortEntry(10, 3000, "node", longDirectory), PortEntry(11, 3001, "python3"), PortEntry(12, 3001, "python3"),
         PortEntry(13, 65535, "<b>x</b>", "/srv")},
        // The same ids with a directory gone, one come and a new name: the rows are kept.
        {PortEntry(10, 3000, "node"), PortEntry(11, 3001, "python3.12", "/opt"), PortEntry(12, 3001, "python3"),
         PortEntry(13, 65535, "<b>x</b>", "/srv")},
    };
    const PortRowView::Heights heights;
    std::map<qint32, PortRowView *> firstBuilt;
    for (const QList<PortEntry> &entries : passes) {
        load(entries);
        const QList<PortRowView *> rows = rowsOf(&view());
        ASSERT_EQ(rows.size(), entries.size());
        int y = 0;
        for (qsizetype i = 0; i < rows.size(); ++i) {
            const PortEntry &e = entries[i];
            PortRowView *row = rows[i];
            SCOPED_TRACE(e.processName().toStdString());
            EXPECT_EQ(firstBuilt.try_emplace(e.pid(), row).first->second, row);
            QStringList texts{QString::number(e.port()), e.processName()};
            if (e.workingDirectory())
                texts.append(*e.workingDirectory());
            EXPECT_EQ(textsOf(row), texts);
            // Two processes on one port are two rows with the same identifiers.
            EXPECT_TRUE(row->findChild<QWidget *>(QStringLiteral("port-row-%1").arg(e.port())));
            EXPECT_TRUE(row->findChild<QWidget *>(QStringLiteral("kill-port-%1").arg(e.port())));
            if (e.workingDirectory() == longDirectory) {
                // A long directory loses its beginning, not its end.
                const QString shown = row->findChildren<TextLabel *>().last()->displayedText();
                EXPECT_TRUE(shown.startsWith(QChar(0x2026)) && shown.endsWith("/api-server")) << shown.toStdString();
            }
            // Placed at the height the list computed without building it.
            EXPECT_EQ(row->geometry(), QRect(0, y, 320, heights.of(e.workingDirectory().has_value(), false)));
            EXPECT_EQ(row->height(), row->sizeHint().height());
            y += row->height();
        }
    }
}

TEST_F(PopoverViewTest, RowsEscapeNamesAndPathsMarkRemovedDirectoriesAndDescribeTheCommandLine) {
    const auto details = [](QString name, QString directory, bool deleted, std::optional<QString> commandLine) {
        ProcessDetails d;
        d.name = std::move(name);
        d.workingDirectory = std::move(directory);
        d.workingDirectoryDeleted = deleted;
        d.commandLine = std::move(commandLine);
        return d;
    };
    struct Case {
        ProcessDetails read;
        QStringList texts; // under the port
        QString description;
    };
    const Case cases[] = {
        // A right-to-left override would draw these as "live" and "exe.txt".
        // Markup in a command line is text: an <img> would load its source.
        {details(QStringLiteral("\u202Eevil"), QStringLiteral("/home/dev/\u202Etxt.exe"), false,
                 QStringLiteral("node server.js <b>--port</b> 3000")),
         {"\\u202Eevil", "/home/dev/\\u202Etxt.exe"},
         "node server.js <b>--port</b> 3000"},
        {details("vite", "/home/dev/app", true, "vite\n--host a\\x1B"),
         {"vite", "/home/dev/app", "directory deleted"},
         "vite\\n--host a\\\\x1B"},
        // Only the kernel's word makes a directory deleted, never its name.
        {details("ruby", "/srv/app (deleted)", false, std::nullopt), {"ruby", "/srv/app (deleted)"}, ""},
        {details("tab\tname", "/a\nb", false, "x\ty"), {"tab\\tname", "/a\\nb"}, "x\\ty"},
    };
    const PortRowView::Heights heights;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.texts.join(u'|').toStdString());
        reset();
        m_resolver->details.insert(10, c.read);
        load({PortEntry(10, 3000, "lsofname")});
        PortRowView *row = rowOf(3000);
        ASSERT_TRUE(row);
        EXPECT_EQ(textsOf(row), QStringList{"3000"} + c.texts);
        QWidget *select = find("port-row-3000");
        // The whole folder on one line, the command line under it.
        EXPECT_EQ(shownToolTip(select), c.description.isEmpty() ? c.texts[1] : c.texts[1] + "\n" + c.description);
        EXPECT_EQ(select->accessibleDescription(), c.description);
        EXPECT_EQ(select->accessibleName(), "Port 3000, " + c.texts.first());
        EXPECT_EQ(find("kill-port-3000")->accessibleName(), "Kill " + c.texts.first() + " on port 3000");
        EXPECT_EQ(row->height(), heights.of(true, false));
    }
}

TEST_F(PopoverViewTest, AnotherUsersListenerShowsItsOwnerWholeCanBeSelectedAndHasNoKillButton) {
    // Its one action is the stop as administrator, tested with the administrator stop.
    const PortEntry postgres = PortEntry::foreignListener(5432, 104, "postgres");
    const PortEntry longOwner = PortEntry::foreignListener(5433, 105, "a-service-account-with-a-long-name-x");
    load({PortEntry(10, 3000, "node"), postgres, longOwner, PortEntry(11, 8080, "node")});
    for (const PortEntry &entry : {postgres, longOwner}) {
        PortRowView *row = rowOf(entry.port());
        ASSERT_TRUE(row);
        EXPECT_EQ(textsOf(row), (QStringList{QString::number(entry.port()), entry.ownerName(), "another user's process",
                                             "Stop as administrator..."}));
        const auto *owner = row->findChildren<TextLabel *>()[1];
        EXPECT_EQ(owner->displayedText(), entry.ownerName()) << "never elided";
        EXPECT_EQ(row->height(), PortRowView::Heights().of(entry, std::nullopt));
    }
    EXPECT_GT(rowOf(5433)->height(), rowOf(5432)->height()) << "the long owner wraps";
    EXPECT_FALSE(find("kill-port-5432"));
    PortRowView *row = rowOf(5432);
    EXPECT_EQ(row->findChildren<QAbstractButton *>().size(), 2) << "the select button and the stop";
    QWidget *select = find("port-row-5432");
    EXPECT_EQ(select->accessibleName(), "Port 5432, owned by postgres, another user");
    EXPECT_TRUE(select->toolTip().contains("postgres (uid 104)")) << select->toolTip().toStdString();
    EXPECT_EQ(select->accessibleDescription(), shownToolTip(select));
    EXPECT_EQ(rowOf(8080)->y(), rowOf(3000)->height() + row->height() + rowOf(5433)->height());

    QTest::mouseClick(select, Qt::LeftButton);
    EXPECT_EQ(store().selectedEntryID(), postgres.id());
    EXPECT_EQ(m_resolver->pids, (QList<qint32>{10, 11})) << "nothing is read of a row without a process";
    // Tab reaches the selected row's stop button, and only while the row is selected.
    QWidget *stop = find("admin-stop-port-5432");
    drainEvents();
    QApplication::setActiveWindow(&view());
    QTest::keyClick(&view(), Qt::Key_Tab);
    EXPECT_TRUE(stop->hasFocus());
    store().setSelectedEntryID(PortEntryID{10, 3000});
    drainEvents();
    EXPECT_FALSE(stop->hasFocus());
    EXPECT_EQ(stop->focusPolicy(), Qt::NoFocus);
}

TEST_F(PopoverViewTest, FailedKillShowsItsErrorInTheRowUntilAKillSucceeds) {
    const PortRowView::Heights heights;
    for (const auto &[outcome, text] : {std::pair{ProcessKillOutcome::permissionDenied, "Permission denied"},
                                        std::pair{ProcessKillOutcome::failed, "Could not kill process"}}) {
        SCOPED_TRACE(text);
        reset();
        load({PortEntry(10, 3000, "node"), PortEntry(11, 3001, "ruby")});
        m_killer->outcome = outcome;
        QTest::mouseClick(find(QStringLiteral("kill-port-3000")), Qt::LeftButton);
        drainEvents();
        auto *error = qobject_cast<TextLabel *>(find(QStringLiteral("row-error-3000")));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->tone(), TextTone::red);
        EXPECT_TRUE(find(QStringLiteral("port-row-3000"))->isAncestorOf(error));
        EXPECT_EQ(textsOf(rowOf(3000)), (QStringList{"3000", "node", text}));
        EXPECT_EQ(rowOf(3000)->height(), heights.of(false, true));
        EXPECT_EQ(rowOf(3001)->y(), rowOf(3000)->height());

        m_killer->outcome = ProcessKillOutcome::killed;
        QTest::mouseClick(find(QStringLiteral("kill-port-3000")), Qt::LeftButton);
        drainEvents();
        // The listing still reports the process, now without an error.
        ASSERT_TRUE(rowOf(3000));
        EXPECT_FALSE(find(QStringLiteral("row-error-3000")));
        EXPECT_EQ(rowOf(3000)->height(), heights.of(false, false));
    }
}

// A store change between press and release (a refresh pass, a selection change) must not
// lose the click; an accessibility Press releases its button 100 ms after pressing it.
TEST_F(PopoverViewTest, ClicksSelectOrKillTheirRowEvenAcrossARender) {
    const PortEntryID first{10, 3000}, second{11, 3001}, third{12, 3002};
    enum Input { mouse, mouseOnPadding, accessibilityPress };
    enum Between { selectThird, refresh };
    const struct {
        const char *name;
        QString target;
        Input input;
        Between between;
        PortEntryID selected;
        QList<qint32> kills;
    } cases[] = {
        {"kill across a selection change", "kill-port-3001", mouse, selectThird, third, {11}},
        // A kill does not select its row.
        {"kill across a refresh", "kill-port-3001", mouse, refresh, first, {11}},
        {"accessibility kill across a refresh", "kill-port-3001", accessibilityPress, refresh, first, {11}},
        {"select across a refresh", "port-row-3001", mouse, refresh, second, {}},
        {"select across a selection change", "port-row-3001", mouse, selectThird, second, {}},
        {"the row's padding selects too", "port-row-3001", mouseOnPadding, selectThird, second, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        load({PortEntry(10, 3000, "node"), PortEntry(11, 3001, "ruby"), PortEntry(12, 3002, "java")});
        QPointer<QWidget> target = find(c.target);
        if (c.input == mouseOnPadding)
            target = rowOf(3001);
        ASSERT_TRUE(target);
        const QPoint at = c.input == mouseOnPadding ? QPoint(3, 3) : target->rect().center();
        if (c.input == accessibilityPress) {
            QAccessibleInterface *button = QAccessible::queryAccessibleInterface(target);
            ASSERT_TRUE(button && button->actionInterface());
            button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        } else {
            QTest::mousePress(target, Qt::LeftButton, {}, at);
        }
        c.between == refresh ? QCoro::waitFor(store().refresh()) : store().setSelectedEntryID(third);
        drainEvents();
        // A rebuilt widget would take the press with it.
        if (c.input != accessibilityPress && target)
            QTest::mouseRelease(target, Qt::LeftButton, {}, at);
        drainEvents();
        spinUntil([&] { return m_killer->pids == c.kills; });
        EXPECT_EQ(m_killer->pids, c.kills);
        EXPECT_EQ(store().selectedEntryID(), c.selected);
    }
}

// Measured in rendered pixels, in a light palette and a dark one whose highlight lies close to
// its base: secondary text (a folder, the footer) reads at 4.5:1 on the popover, the selected
// row's background stands at 3:1 from the others and its name at 4.5:1 on it.
TEST_F(PopoverViewTest, TextsAndTheSelectedRowStandOutInLightAndDarkPalettes) {
    QPalette dark;
    for (const auto &[role, colour] :
         std::initializer_list<std::pair<QPalette::ColorRole, const char *>>{{QPalette::Window, "#353535"},
                                                                             {QPalette::Base, "#2d2d2d"},
                                                                             {QPalette::Text, "#eeeeec"},
                                                                             {QPalette::WindowText, "#eeeeec"},
                                                                             {QPalette::Highlight, "#15539e"},
                                                                             {QPalette::HighlightedText, "#ffffff"},
                                                                             {QPalette::PlaceholderText, "#7f7f7f"}})
        dark.setColor(role, QColor(colour));
    const QPalette saved = QApplication::palette();
    const std::unique_ptr<QStyle> fusion(QStyleFactory::create("Fusion"));
    for (const auto &[name, palette] : {std::pair{"light", fusion->standardPalette()}, std::pair{"dark", dark}}) {
        SCOPED_TRACE(name);
        QApplication::setPalette(palette);
        reset();
        load({PortEntry(10, 3000, "node", "/home/dev/lIlI/IlIl"), PortEntry(11, 3001, "ruby", "/srv/lIlI")});
        store().setSelectedEntryID(PortEntryID{11, 3001});
        drainEvents();
        const QImage image = view().grab().toImage();
        const auto pixel = [&](QWidget *widget, QPoint at) { return image.pixelColor(widget->mapTo(&view(), at)); };
        const QColor background = pixel(rowOf(3000), QPoint(2, 2));
        const QColor selected = pixel(rowOf(3001), QPoint(2, 2));
        EXPECT_GE(contrastRatio(selected, background), 3.0);
        // The text's own colour is its pixel that stands furthest from the background.
        const auto textContrast = [&](QWidget *label, const QColor &behind) {
            qreal most = 1;
            for (int y = 0; y < label->height(); ++y) {
                for (int x = 0; x < label->width(); ++x)
                    most = std::max(most, contrastRatio(pixel(label, QPoint(x, y)), behind));
            }
            return most;
        };
        EXPECT_GE(textContrast(rowOf(3000)->findChildren<TextLabel *>()[2], background), 4.5) << "folder";
        EXPECT_GE(textContrast(find("footer-status"), background), 4.5) << "footer";
        EXPECT_GE(textContrast(rowOf(3001)->findChildren<TextLabel *>()[1], selected), 4.5) << "selected name";
    }
    QApplication::setPalette(saved);
}

TEST_F(PopoverViewTest, OnlyRowsInViewAreBuiltAndScrollingBuildsAndDropsThem) {
    QList<PortEntry> many;
    for (int i = 0; i < 1000; ++i)
        many.append(PortEntry(100 + i, 3000 + i, QStringLiteral("server")));
    load(many);

    auto *list = view().findChild<PortListView *>();
    QScrollBar *bar = list->verticalScrollBar();
    const int rowHeight = PortRowView::Heights().of(false, false);
    EXPECT_EQ(list->height(), 320);
    EXPECT_TRUE(bar->isVisibleTo(&view()));
    EXPECT_EQ(bar->maximum(), 1000 * rowHeight - 320);
    const auto builtFew = [&] { return view().findChildren<PortRowView *>().size() <= 320 / rowHeight + 2; };
    EXPECT_TRUE(builtFew());
    EXPECT_TRUE(rowOf(3000));
    EXPECT_FALSE(rowOf(3999));

    bar->setValue(bar->maximum());
    EXPECT_TRUE(rowOf(3999));
    EXPECT_FALSE(rowOf(3000));
    EXPECT_TRUE(builtFew());
    EXPECT_EQ(rowOf(3999)->geometry().bottom(), list->viewport()->height() - 1);

    // A selection moved out of sight, as the keyboard does, brings its row into view.
    store().setSelectedEntryID(PortEntryID{600, 3500});
    drainEvents();
    ASSERT_TRUE(rowOf(3500));
    EXPECT_TRUE(list->viewport()->rect().contains(rowOf(3500)->geometry()));
    EXPECT_TRUE(builtFew());
    // Page Down and Page Up go to the row a viewport's height away.
    EXPECT_EQ(list->pageStep(1), 320 / rowHeight);
    EXPECT_EQ(list->pageStep(-1), -(320 / rowHeight));
}

} // namespace
