#include "PortListView.h"

#include "PortRowView.h"
#include "ViewStyle.h"
#include "model/BackgroundRelease.h"

#include <QAccessible>
#include <QScrollBar>
#include <QStyle>

#include <algorithm>

namespace quaystone {

namespace {

constexpr int scrollStep = 20;

} // namespace

PortListView::PortListView(RowAction select, RowAction kill, QWidget *parent)
    : QAbstractScrollArea(parent)
    , m_select(std::move(select))
    , m_kill(std::move(kill)) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    verticalScrollBar()->setSingleStep(scrollStep);
    setFixedHeight(0);
}

PortListView::~PortListView() = default;

void PortListView::setRows(Rows rows) {
    const bool selectionMoved = rows.selectedEntryID != m_rows.selectedEntryID;
    releaseInBackground(std::exchange(m_rows, std::move(rows)).entries);

    // Built rows whose entry is still listed are kept under their new index; a press on one
    // of them must survive the render.
    QMultiHash<PortEntryID, PortRowView *> built;
    for (const auto &[index, row] : m_builtRows)
        built.insert(row->entry().id(), row);
    m_builtRows.clear();

    m_selectedIndex = -1;
    for (qsizetype i = 0; i < m_rows.entries.size(); ++i) {
        const PortEntryID id = m_rows.entries.at(i).id();
        if (m_selectedIndex < 0 && m_rows.selectedEntryID == id)
            m_selectedIndex = i;
        if (!built.isEmpty()) {
            if (const auto row = built.constFind(id); row != built.cend()) {
                m_builtRows.emplace(i, *row);
                built.erase(row);
            }
        }
    }
    qDeleteAll(built);
    computeOffsets();
    if (selectionMoved && m_selectedIndex >= 0)
        scrollToShow(m_selectedIndex);
    placeRows();
    // Rows just built already have these inputs, and then nothing changes.
    for (const auto &[index, row] : m_builtRows) {
        const PortEntry &entry = m_rows.entries.at(index);
        row->setInputs(entry, m_rows.selectedEntryID == entry.id(), rowErrorOf(entry.id()),
                       m_rows.rowErrorDetails.value(entry.id()));
    }
    focusSelectedRow();
}

// Every row's offset from its content at the rows' width: the list's, less a scroll bar's where
// the rows overflow and the bar takes room beside them.
void PortListView::computeOffsets() {
    const auto offsetsAt = [this](int rowWidth) {
        const PortRowView::Heights heights(rowWidth);
        m_offsets.resize(size_t(m_rows.entries.size()) + 1);
        m_offsets[0] = 0;
        for (qsizetype i = 0; i < m_rows.entries.size(); ++i) {
            const PortEntry &entry = m_rows.entries.at(i);
            const auto error = m_rows.rowErrors.constFind(entry.id());
            // Only rows with an error or without a process depend on the width.
            const int height = error == m_rows.rowErrors.cend() && entry.hasProcess()
                                   ? heights.of(PortRowView::hasDetailLine(entry), false)
                                   : heights.of(entry, error == m_rows.rowErrors.cend()
                                                           ? std::nullopt
                                                           : std::optional(PortRowView::errorText(
                                                                 *error, m_rows.rowErrorDetails.value(entry.id()))));
            m_offsets[size_t(i) + 1] = m_offsets[size_t(i)] + height;
        }
    };
    // The list spans the popover.
    int rowWidth = popoverWidth();
    offsetsAt(rowWidth);
    if (contentHeight() > maximumViewportHeight() &&
        !style()->styleHint(QStyle::SH_ScrollBar_Transient, nullptr, verticalScrollBar())) {
        rowWidth -= verticalScrollBar()->sizeHint().width();
        offsetsAt(rowWidth);
    }
    setFixedHeight(visibleHeight());
    QScrollBar *bar = verticalScrollBar();
    bar->setPageStep(visibleHeight());
    bar->setRange(0, contentHeight() - visibleHeight());
}

int PortListView::maximumViewportHeight() {
    return scaled(320);
}

int PortListView::pageStep(int direction) const {
    if (m_selectedIndex < 0)
        return direction;
    // The row a page below the selected row's top, or a page above its bottom.
    const int y = direction > 0 ? m_offsets[size_t(m_selectedIndex)] + visibleHeight()
                                : m_offsets[size_t(m_selectedIndex) + 1] - visibleHeight() - 1;
    const qsizetype target = std::clamp<qsizetype>(
        std::upper_bound(m_offsets.begin(), m_offsets.end(), y) - m_offsets.begin() - 1, 0, m_rows.entries.size() - 1);
    const qsizetype step = target - m_selectedIndex;
    return int(step == 0 ? direction : step);
}

QList<PortRowView *> PortListView::builtRows() const {
    QList<PortRowView *> rows;
    rows.reserve(qsizetype(m_builtRows.size()));
    for (const auto &[index, row] : m_builtRows)
        rows.append(row);
    return rows;
}

void PortListView::setTellsFocus(bool tells) {
    m_tellsFocus = tells;
    m_focusedRowID.reset();
    focusSelectedRow();
}

void PortListView::focusSelectedRow() {
    if (!m_rows.selectedEntryID)
        m_focusedRowID.reset();
    if (!m_tellsFocus || !m_rows.selectedEntryID || m_focusedRowID == m_rows.selectedEntryID)
        return;
    const qsizetype index = m_selectedIndex;
    if (index < 0)
        return;
    // Scrolled out of view (by the wheel, before the popup closed), the row is brought back:
    // the focus goes only to a row that is built, and the user sees where the keys act.
    if (!m_builtRows.contains(index)) {
        scrollToShow(index);
        placeRows();
    }
    const auto row = m_builtRows.find(index);
    if (row == m_builtRows.end())
        return;
    m_focusedRowID = m_rows.selectedEntryID;
    QAccessibleEvent event(row->second, QAccessible::Focus);
    QAccessible::updateAccessibility(&event);
}

QSize PortListView::sizeHint() const {
    return {maximumViewportHeight(), visibleHeight()};
}

QSize PortListView::minimumSizeHint() const {
    return {0, visibleHeight()};
}

void PortListView::scrollContentsBy(int, int) {
    placeRows();
}

void PortListView::resizeEvent(QResizeEvent *event) {
    QAbstractScrollArea::resizeEvent(event);
    placeRows();
}

int PortListView::visibleHeight() const {
    return std::min(contentHeight(), maximumViewportHeight());
}

void PortListView::scrollToShow(qsizetype index) {
    QScrollBar *bar = verticalScrollBar();
    const int top = m_offsets[size_t(index)];
    const int bottom = m_offsets[size_t(index) + 1];
    if (top < bar->value())
        bar->setValue(top);
    else if (bottom > bar->value() + visibleHeight())
        bar->setValue(bottom - visibleHeight());
}

void PortListView::placeRows() {
    // The fixed height is the viewport's height even before the first layout pass.
    const int top = verticalScrollBar()->value();
    const int bottom = top + visibleHeight();
    const auto firstAfter = [&](int y) {
        return qsizetype(std::upper_bound(m_offsets.begin(), m_offsets.end(), y) - m_offsets.begin());
    };
    const qsizetype first = std::max<qsizetype>(firstAfter(top) - 1, 0);
    const qsizetype end = std::min<qsizetype>(
        std::lower_bound(m_offsets.begin(), m_offsets.end(), bottom) - m_offsets.begin(), m_rows.entries.size());

    for (auto it = m_builtRows.begin(); it != m_builtRows.end();) {
        if (it->first < first || it->first >= end) {
            delete it->second;
            it = m_builtRows.erase(it);
        } else {
            ++it;
        }
    }
    for (qsizetype i = first; i < end; ++i) {
        auto [it, inserted] = m_builtRows.try_emplace(i, nullptr);
        if (inserted)
            it->second = buildRow(i);
        it->second->setGeometry(0, m_offsets[size_t(i)] - top, viewport()->width(),
                                m_offsets[size_t(i) + 1] - m_offsets[size_t(i)]);
    }
}

std::optional<RowError> PortListView::rowErrorOf(PortEntryID id) const {
    const auto error = m_rows.rowErrors.constFind(id);
    return error == m_rows.rowErrors.cend() ? std::nullopt : std::optional<RowError>(*error);
}

PortRowView *PortListView::buildRow(qsizetype index) {
    const PortEntry &entry = m_rows.entries.at(index);
    const PortEntryID id = entry.id();
    auto *row = new PortRowView(
        entry, m_rows.selectedEntryID == id, rowErrorOf(id), [select = m_select, id] { select(id); },
        [kill = m_kill, id] { kill(id); }, viewport(), m_rows.rowErrorDetails.value(id));
    row->show();
    return row;
}

} // namespace quaystone
