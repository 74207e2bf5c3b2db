#pragma once

#include "model/RowError.h"

#include <QWidget>

#include <functional>
#include <optional>

namespace quaystone {

class PortEntry;

// One listening socket: the port, the process name and, when known, its working directory,
// an error line after a failed kill, and a kill button. A click anywhere but on the kill
// button selects the row.
class PortRowView : public QWidget {
    Q_OBJECT

public:
    static constexpr int portColumnWidth = 48;
    static constexpr int columnSpacing = 12;

    // A row's height depends only on whether it shows a directory and an error line, and on
    // the fonts; the list places rows it has not built from these four values.
    class Heights {
    public:
        Heights();
        int of(bool hasDirectory, bool hasError) const { return m_heights[hasDirectory][hasError]; }

    private:
        int m_heights[2][2];
    };

    PortRowView(const PortEntry &entry, bool isSelected, std::optional<RowError> rowError, std::function<void()> select,
                std::function<void()> kill, QWidget *parent = nullptr);
    ~PortRowView() override;

    static QString errorText(RowError error);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    bool m_isSelected;
    std::function<void()> m_select;
};

} // namespace quaystone
