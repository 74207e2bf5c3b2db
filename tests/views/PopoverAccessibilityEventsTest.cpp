#include "ViewTestSupport.h"

#include "views/PopoverAnnouncer.h"

#include <QAccessible>
#include <QTest>

#include <functional>

using namespace quaystone;
using namespace quaystone::test;

// Run under X with a private accessibility bus (scripts/lib/xsession-run.sh): Qt hands events to
// a recorder only while its accessibility bridge is active, which takes a bus to talk to.
namespace {

// The accessibility events the views send, as a screen reader's bridge would receive them.
class EventRecorder {
public:
    struct Event {
        QAccessible::Event type;
        QObject *object;
        QString name;
    };

    EventRecorder() {
        s_current = this;
        QAccessible::installUpdateHandler(&EventRecorder::record);
    }
    ~EventRecorder() {
        QAccessible::installUpdateHandler(nullptr);
        s_current = nullptr;
    }

    QList<Event> events;

    QStringList namesOf(QAccessible::Event type) const {
        QStringList names;
        for (const Event &event : events) {
            if (event.type == type)
                names.append(event.name);
        }
        return names;
    }

private:
    static void record(QAccessibleEvent *event) {
        QAccessibleInterface *iface = event->accessibleInterface();
        s_current->events.append({event->type(), event->object(), iface ? iface->text(QAccessible::Name) : QString()});
    }
    static inline EventRecorder *s_current = nullptr;
};

class PopoverAccessibilityEventsTest : public PopoverViewTest {
public:
    void SetUp() override {
        if (!QTest::qWaitFor([] { return QAccessible::isActive(); }, 10000))
            GTEST_SKIP() << "Qt's accessibility bridge did not become active: no accessibility bus";
    }

    void showActive() {
        view().show();
        // With no window manager, only a mapped window can take the input focus.
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view()));
        view().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&view()));
        drainEvents();
    }
};

TEST_F(PopoverAccessibilityEventsTest, OpeningAndEachSelectionChangeFocusTheSelectedRowOnly) {
    load({PortEntry(10, 3000, "node"), PortEntry(11, 3001, "ruby"), PortEntry(12, 3002, "go")});
    view().hide();
    drainEvents();
    EventRecorder recorder;
    showActive();
    EXPECT_EQ(recorder.namesOf(QAccessible::Focus), QStringList{"Port 3000, node"});

    recorder.events.clear();
    const struct {
        const char *name;
        std::function<void(PortStore &)> change;
        QStringList focus;
    } steps[] = {
        {"down", [](PortStore &s) { s.selectNext(); }, {"Port 3001, ruby"}},
        {"down again", [](PortStore &s) { s.selectNext(); }, {"Port 3002, go"}},
        {"down at the end: no change", [](PortStore &s) { s.selectNext(); }, {}},
        {"up", [](PortStore &s) { s.selectPrevious(); }, {"Port 3001, ruby"}},
        {"a click on the selected row",
         [](PortStore &s) {
             s.setSelectedEntryID(PortEntryID{11, 3001});
         },
         {}},
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(step.name);
        recorder.events.clear();
        step.change(store());
        drainEvents();
        EXPECT_EQ(recorder.namesOf(QAccessible::Focus), step.focus);
        // The header and footer stay as they were: nothing about them reaches a screen reader.
        for (const EventRecorder::Event &event : recorder.events) {
            EXPECT_TRUE(event.type == QAccessible::Focus || qobject_cast<PortRowView *>(event.object))
                << event.type << " " << event.name.toStdString();
        }
    }
}

// What a kill announces is PopoverAnnouncements' test, and the end-to-end popup_atspi's; here: a
// kill that runs longer than half a second is told as it goes on, and nothing is spoken for a
// closed popup.
TEST_F(PopoverAccessibilityEventsTest, ASlowKillIsToldAsItGoesOnAndNothingForAClosedPopup) {
    load({PortEntry(10, 3000, "node"), PortEntry(11, 3001, "ruby")});
    showActive();
    EventRecorder recorder;
    m_killer->held = true;
    QTest::mouseClick(find(QStringLiteral("kill-port-3000")), Qt::LeftButton);
    drainEvents();
    QTest::qWait(700);
    m_killer->pending.complete(ProcessKillOutcome::permissionDenied);
    drainEvents();
    QStringList announced;
    for (const EventRecorder::Event &event : recorder.events) {
        if (event.type == QAccessible::ObjectShow && qobject_cast<PopoverAnnouncement *>(event.object))
            announced.append(event.name);
    }
    EXPECT_EQ(announced,
              (QStringList{"Stopping node on port 3000", "Could not stop node on port 3000: Permission denied"}));

    view().hide();
    drainEvents();
    recorder.events.clear();
    m_killer->held = false;
    for (const ProcessKillOutcome outcome : {ProcessKillOutcome::killed, ProcessKillOutcome::permissionDenied}) {
        m_killer->outcome = outcome;
        QTest::mouseClick(find(outcome == ProcessKillOutcome::killed ? "kill-port-3001" : "kill-port-3000"),
                          Qt::LeftButton);
        drainEvents();
    }
    for (const EventRecorder::Event &event : recorder.events)
        EXPECT_FALSE(qobject_cast<PopoverAnnouncement *>(event.object)) << event.name.toStdString();
}

} // namespace
