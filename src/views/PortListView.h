#pragma once

#include "model/PortEntry.h"
#include "model/RowError.h"

#include <QAbstractScrollArea>
#include <QHash>
#include <QList>

#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace quaystone {

class PortRowView;

// The scrolling list of rows, at most 320 pixels high (at the default font size) and shrinking
// to its rows. Rows are
// built lazily: every row's offset follows from its content, so only the rows that intersect
// the viewport exist as widgets; the others are built when scrolled into view and dropped
// when scrolled out. A row is known by its entry's id across changes.
class PortListView : public QAbstractScrollArea {
    Q_OBJECT

public:
    static int maximumViewportHeight();

    // The inputs of every row, read from the store at one render.
    struct Rows {
        QList<PortEntry> entries;
        std::optional<PortEntryID> selectedEntryID;
        QHash<PortEntryID, RowError> rowErrors;
        QHash<PortEntryID, QString> rowErrorDetails; // only where an error has one
    };
    using RowAction = std::function<void(PortEntryID)>;

    PortListView(RowAction select, RowAction kill, QWidget *parent = nullptr);
    ~PortListView() override;

    // Replaces the rows. A built row whose id is still listed and in view is kept and takes its
    // new inputs; only rows new to the view are built. When the selection moved, the newly
    // selected row is scrolled into view, so the keyboard never selects an unseen row.
    void setRows(Rows rows);

    // The rows that exist as widgets, top to bottom.
    QList<PortRowView *> builtRows() const;
    // While on, assistive technology is told that the selected row has the focus, once each
    // time the selection moves; turned on again, it is told anew. The popup turns it on once
    // its window is shown and active.
    void setTellsFocus(bool tells);
    // How many rows from the selected one a page down (direction 1) or up (-1) goes: to the row a
    // viewport's height away, at least one row.
    int pageStep(int direction) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    int contentHeight() const { return m_offsets.back(); }
    int visibleHeight() const;
    void computeOffsets();
    void scrollToShow(qsizetype index);
    void placeRows();
    std::optional<RowError> rowErrorOf(PortEntryID id) const;
    PortRowView *buildRow(qsizetype index);
    void focusSelectedRow();

    RowAction m_select;
    RowAction m_kill;
    Rows m_rows;
    // m_offsets[i] is the top of row i; the last element is the height of all rows.
    std::vector<int> m_offsets{0};
    std::map<qsizetype, PortRowView *> m_builtRows;
    qsizetype m_selectedIndex = -1;
    bool m_tellsFocus = false;
    std::optional<PortEntryID> m_focusedRowID;
};

} // namespace quaystone
