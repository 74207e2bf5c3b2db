#include "PopoverRootView.h"

#include "Divider.h"
#include "PopoverCenteredMessageView.h"
#include "PopoverErrorView.h"
#include "PopoverFooterView.h"
#include "PopoverHeaderView.h"
#include "PortListView.h"
#include "model/ListingErrorText.h"
#include "model/MainThreadTask.h"
#include "model/PortStore.h"

#include <QVBoxLayout>

#include <chrono>
#include <limits>

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
    , m_layout(new QVBoxLayout(this)) {
    setFixedWidth(popoverWidth);
    // Everything paints on the base colour; the red and the selection tint are chosen for it.
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);
    connect(&m_store, &PortStore::changed, this, &PopoverRootView::scheduleRender);
    render();
}

PopoverRootView::~PopoverRootView() = default;

void PopoverRootView::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    render();
    startMainThreadTask([store = QPointer<PortStore>(&m_store)]() -> QCoro::Task<> {
        if (store && store->refreshState() == RefreshState::idle)
            co_await store->refresh();
    });
}

void PopoverRootView::scheduleRender() {
    if (m_renderScheduled)
        return;
    m_renderScheduled = true;
    QMetaObject::invokeMethod(this, &PopoverRootView::render, Qt::QueuedConnection);
}

void PopoverRootView::render() {
    m_renderScheduled = false;
    while (QLayoutItem *item = m_layout->takeAt(0)) {
        if (item->widget() != m_list)
            delete item->widget();
        delete item;
    }

    const bool hasEntries = !m_store.entries().isEmpty();
    const RefreshState state = m_store.refreshState();
    if (hasEntries) {
        m_layout->addWidget(new PopoverHeaderView(this));
        m_layout->addWidget(new Divider(this));
        renderList();
    } else {
        delete m_list;
        if (state == RefreshState::loadingInitial) {
            m_layout->addWidget(new PopoverCenteredMessageView(tr("Checking ports..."), std::nullopt, this));
        } else if (const std::optional<ListingError> &failure = m_store.refreshFailure()) {
            // Never "No active ports" when the ports could not be listed.
            m_layout->addWidget(new PopoverErrorView(listingErrorDescription(*failure), popoverWidth, this));
        } else {
            const PortRange range = m_store.range();
            const QString subtitle =
                tr("Listening on %1-%2").arg(QString::number(range.lowerBound), QString::number(range.upperBound));
            m_layout->addWidget(new PopoverCenteredMessageView(tr("No active ports"), subtitle, this));
        }
    }

    const std::optional<PortStore::TimePoint> lastUpdatedAt = m_store.lastUpdatedAt();
    if (lastUpdatedAt && (hasEntries || state != RefreshState::loadingInitial)) {
        m_layout->addWidget(new Divider(this));
        if (const std::optional<ListingError> &failure = m_store.refreshFailure()) {
            m_layout->addWidget(
                new PopoverFooterView(tr("Update failed: %1").arg(listingErrorSummary(*failure)), TextTone::red, this));
        } else {
            m_layout->addWidget(new PopoverFooterView(footerText(*lastUpdatedAt), TextTone::secondary, this));
        }
    }

    for (int i = 0; i < m_layout->count(); ++i)
        m_layout->itemAt(i)->widget()->show();
    // Only on a change: every new constraint on a window goes out to the window system.
    const int height = m_layout->sizeHint().height();
    if (minimumHeight() != height || maximumHeight() != height)
        setFixedHeight(height);
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
                startMainThreadTask([store, id]() -> QCoro::Task<> {
                    if (store)
                        co_await store->kill(id);
                });
            },
            this);
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
    m_layout->addWidget(m_list);
}

} // namespace quaystone
