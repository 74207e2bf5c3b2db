#include "PopoverRootView.h"

#include "Divider.h"
#include "PopoverAccessibility.h"
#include "PopoverAnnouncer.h"
#include "PopoverCenteredMessageView.h"
#include "PopoverErrorView.h"
#include "PopoverFooterView.h"
#include "PopoverHeaderView.h"
#include "PortListView.h"
#include "ViewStyle.h"
#include "model/DisplayText.h"
#include "model/ListingErrorText.h"
#include "model/MainThreadTask.h"
#include "model/PortStore.h"

#include <QAccessible>
#include <QGuiApplication>
#include <QStyleHints>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <qcoro/qcorotimer.h>

#include <chrono>
#include <limits>
#include <utility>

namespace quaystone {

namespace {

// Whole seconds from then to now, truncated toward zero. Saturates rather than overflowing
// for clocks at the ends of their range.
qint64 wholeSecondsBetween(PortStore::TimePoint then, PortStore::TimePoint now) {
    using Duration = PortStore::TimePoint::duration;
    Duration::rep ticks = 0;
    if (__builtin_sub_overflow(now.time_since_epoch().count(), then.time_since_epoch().count(), &ticks))
        ticks = now > then ? std::numeric_limits<Duration::rep>::max() : std::numeric_limits<Duration::rep>::min();
    return std::chrono::duration_cast<std::chrono::seconds>(Duration(ticks)).count();
}

QString footerText(PortStore::TimePoint lastUpdatedAt) {
    const qint64 seconds = wholeSecondsBetween(lastUpdatedAt, std::chrono::system_clock::now());
    if (seconds > 4)
        return PopoverRootView::tr("Last updated %1s ago").arg(seconds);
    return PopoverRootView::tr("Last updated just now");
}

} // namespace

PopoverRootView::PopoverRootView(PortStore &store, QWidget *parent)
    : QWidget(parent)
    , m_store(store)
    , m_layout(new QVBoxLayout(this))
    , m_announcer(new PopoverAnnouncer(this)) {
    installPopoverAccessibility();
    setFixedWidth(popoverWidth());
    // Everything paints on the base colour; the red and the selection tint are chosen for it.
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    connect(&m_store, &PortStore::changed, this, &PopoverRootView::scheduleRender);
    // Seen at each change rather than at the next render: a kill that ends before the render
    // would otherwise go untold.
    connect(&m_store, &PortStore::changed, this, &PopoverRootView::noteChanges);
    render();
}

PopoverRootView::~PopoverRootView() = default;

QList<QObject *> PopoverRootView::accessibleChildren() const {
    QList<QObject *> children;
    for (int i = 0; i < m_layout->count(); ++i) {
        if (QWidget *widget = m_layout->itemAt(i)->widget())
            children.append(widget);
    }
    return children + m_announcer->announcements();
}

int PopoverRootView::pageStep(int direction) const {
    return m_list ? m_list->pageStep(direction) : direction;
}

void PopoverRootView::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    render();
    // Qt tells assistive technology that a window is active when it gains the input focus. A
    // popup shown again soon after it closed never lost it in Qt's eyes (xcb waits a moment
    // before it lets a window lose the focus), so that activation is told here.
    const bool activationUntold =
        QGuiApplication::focusWindow() && QGuiApplication::focusWindow() == window()->windowHandle();
    // After the window's show, and its activation, have reached assistive technology, the
    // selected row takes the focus. Shown again, the window is most often activated once more a
    // moment later (changeEvent gives the focus then); only where that does not come is the
    // activation told here.
    QTimer::singleShot(std::chrono::milliseconds(activationUntold ? 300 : 0), this, [this, activationUntold] {
        if (!isVisible() || !isActiveWindow() || m_tellsFocus)
            return;
        if (activationUntold) {
            QAccessible::State active;
            active.active = true;
            QAccessibleStateChangeEvent activated(window(), active);
            QAccessible::updateAccessibility(&activated);
        }
        setTellsFocus(true);
    });
    startMainThreadTask([store = QPointer<PortStore>(&m_store)]() -> QCoro::Task<> {
        if (store && store->refreshState() == RefreshState::idle)
            co_await store->refresh();
    });
}

void PopoverRootView::hideEvent(QHideEvent *event) {
    QWidget::hideEvent(event);
    setTellsFocus(false);
}

void PopoverRootView::changeEvent(QEvent *event) {
    QWidget::changeEvent(event);
    // A window that becomes active after it shows (a tool window on Wayland, a click back into
    // the UI-test window, a popup opened again) gives the focus then: after Qt has told assistive
    // technology of the activation, so that a reader hears the window before the row.
    if (event->type() != QEvent::ActivationChange)
        return;
    if (!isActiveWindow()) {
        setTellsFocus(false);
        return;
    }
    QMetaObject::invokeMethod(
        this, [this] { setTellsFocus(isVisible() && isActiveWindow()); }, Qt::QueuedConnection);
}

void PopoverRootView::setTellsFocus(bool tells) {
    if (tells == m_tellsFocus)
        return;
    m_tellsFocus = tells;
    if (m_list)
        m_list->setTellsFocus(tells);
}

void PopoverRootView::scheduleRender() {
    if (m_renderScheduled)
        return;
    m_renderScheduled = true;
    QMetaObject::invokeMethod(this, &PopoverRootView::render, Qt::QueuedConnection);
}

void PopoverRootView::render() {
    m_renderScheduled = false;
    QList<QWidget *> content;

    const bool hasEntries = !m_store.entries().isEmpty();
    const RefreshState state = m_store.refreshState();
    if (hasEntries) {
        delete m_message;
        if (!m_header) {
            m_header = new PopoverHeaderView(this);
            m_headerDivider = new Divider(this);
        }
        renderList();
        content << m_header << m_headerDivider << m_list;
    } else {
        delete m_header;
        delete m_headerDivider;
        delete m_list;
        if (state == RefreshState::loadingInitial) {
            renderMessage(tr("Checking ports..."), std::nullopt);
        } else if (const std::optional<ListingError> &failure = m_store.refreshFailure()) {
            // Never "No active ports" when the ports could not be listed.
            renderError(listingErrorDescription(*failure));
        } else {
            const PortRange range = m_store.range();
            renderMessage(
                tr("No active ports"),
                tr("Listening on %1-%2").arg(QString::number(range.lowerBound), QString::number(range.upperBound)));
        }
        content << m_message;
    }

    const std::optional<PortStore::TimePoint> lastUpdatedAt = m_store.lastUpdatedAt();
    if (lastUpdatedAt && (hasEntries || state != RefreshState::loadingInitial)) {
        const std::optional<ListingError> &failure = m_store.refreshFailure();
        const QString text =
            failure ? tr("Update failed: %1").arg(listingErrorSummary(*failure)) : footerText(*lastUpdatedAt);
        const TextTone tone = failure ? TextTone::red : TextTone::secondary;
        if (m_footer) {
            m_footer->setText(text, tone);
        } else {
            m_footerDivider = new Divider(this);
            m_footer = new PopoverFooterView(text, tone, this);
        }
        m_footer->setBusy(m_store.isRefreshing());
        content << m_footerDivider << m_footer;
    } else {
        delete m_footerDivider;
        delete m_footer;
    }

    // The layout is redone only when its parts change; parts that stay are neither hidden nor
    // shown again.
    bool sameParts = m_layout->count() == content.size();
    for (int i = 0; sameParts && i < content.size(); ++i)
        sameParts = m_layout->itemAt(i)->widget() == content[i];
    if (!sameParts) {
        while (QLayoutItem *item = m_layout->takeAt(0))
            delete item;
        for (QWidget *widget : std::as_const(content))
            m_layout->addWidget(widget);
    }
    for (QWidget *widget : std::as_const(content))
        widget->show();
    // Only on a change: every new constraint on a window goes out to the window system.
    const int height = m_layout->sizeHint().height();
    if (minimumHeight() != height || maximumHeight() != height)
        setFixedHeight(height);
    // After the focus has moved (a kill moves the selection), so that a reader that stops
    // speaking at a focus change does not cut the message short.
    announcePending();
}

void PopoverRootView::renderError(const QString &description) {
    // Keyed apart from the centred messages, whose titles never hold a control character.
    const QString key = QStringLiteral("\x01") + description;
    if (m_message && key == m_messageKey)
        return;
    delete m_message;
    m_message = new PopoverErrorView(description, popoverWidth(), this);
    m_messageKey = key;
}

void PopoverRootView::renderMessage(const QString &title, const std::optional<QString> &subtitle) {
    const QString key = title + QLatin1Char('\n') + subtitle.value_or(QString());
    if (m_message && key == m_messageKey)
        return;
    delete m_message;
    m_message = new PopoverCenteredMessageView(title, subtitle, this);
    m_messageKey = key;
}

void PopoverRootView::noteChanges() {
    std::optional<QString> failure;
    if (const std::optional<ListingError> &error = m_store.refreshFailure())
        failure = listingErrorSummary(*error);
    const PortStore::AdministratorStopRecord &stop = m_store.lastAdministratorStop();
    PopoverAnnouncements::Snapshot snapshot{m_store.entries(), {}, m_store.suppressedPIDs(), failure,
                                            stop.sequence,     {}};
    for (const AdministratorStoppedProcess &process : stop.processes) {
        if (process.failure.isEmpty())
            snapshot.stoppedAsAdministrator.append(
                tr("%1 (pid %2) on port %3")
                    .arg(displayText(process.name), QString::number(process.pid), QString::number(stop.port)));
    }
    for (const PortStore::RowErrorRecord &record : m_store.rowErrors()) {
        if (!snapshot.rowErrors.contains(record.id))
            snapshot.rowErrors.insert(record.id, record.error);
    }
    m_pendingAnnouncements += m_announcements.update(std::move(snapshot));
    // A stop that ends within half a second is heard once, by its outcome; a longer one is told
    // as it goes on.
    for (const qint32 pid : m_announcements.takeStartedKills()) {
        // A timer of the view's, not a sleeping task: it goes with the view, and leaves nothing behind.
        QTimer::singleShot(std::chrono::milliseconds(500), this, [this, pid] {
            const std::optional<QString> message = m_announcements.stillStopping(pid);
            if (message && isVisible())
                m_announcer->announce(*message);
        });
    }
}

void PopoverRootView::announcePending() {
    const QStringList messages = std::exchange(m_pendingAnnouncements, {});
    // Changes while the popup is closed are not news when it opens.
    if (!isVisible())
        return;
    for (const QString &message : messages)
        m_announcer->announce(message);
}

void PopoverRootView::renderList() {
    if (!m_list) {
        const QPointer<PortStore> store(&m_store);
        m_list = new PortListView(
            [store](PortEntryID id) {
                if (store)
                    store->setSelectedEntryID(id);
            },
            [store](PortEntryID id) {
                // The second click of a double click lands on the row that slid into the place
                // of the first one's.
                const std::chrono::milliseconds interval(QGuiApplication::styleHints()->mouseDoubleClickInterval());
                if (!store || !store->killActionGate().admit(KillActionGate::Clock::now(), interval))
                    return;
                startMainThreadTask([store, id]() -> QCoro::Task<> {
                    if (store)
                        co_await store->kill(id);
                });
            },
            this);
        m_list->setTellsFocus(m_tellsFocus);
    }
    PortListView::Rows rows{m_store.entries(), m_store.selectedEntryID(), {}, {}};
    for (const PortStore::RowErrorRecord &record : m_store.rowErrors()) {
        // The first record of an entry is the one shown.
        if (rows.rowErrors.contains(record.id))
            continue;
        rows.rowErrors.insert(record.id, record.error);
        if (!record.detail.isEmpty())
            rows.rowErrorDetails.insert(record.id, record.detail);
    }
    m_list->setRows(std::move(rows));
}

} // namespace quaystone
