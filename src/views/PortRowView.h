#pragma once

#include "model/PortEntry.h"
#include "model/RowError.h"

#include <QWidget>

#include <functional>
#include <optional>

class QVBoxLayout;

namespace quaystone {

class KillButton;
class PlainButton;
class TextLabel;

// One listening socket: the port, the process name and, when known, its working directory,
// an error line after a failed kill, and a kill button. A click anywhere but on the kill
// button selects the row. A listener of another user shows its owner and, in place of the kill
// button, one that stops it as administrator: there is no process this user could signal.
class PortRowView : public QWidget {
    Q_OBJECT

public:
    static constexpr int portColumnWidth = 48;
    static constexpr int columnSpacing = 12;

    // A row's height depends only on whether it shows a second line (a directory, or the hint
    // on another user's listener) and an error line, and on the fonts; the list places rows it
    // has not built from these four values.
    class Heights {
    public:
        Heights();
        int of(bool hasDirectory, bool hasError) const { return m_heights[hasDirectory][hasError]; }

    private:
        int m_heights[2][2];
    };

    PortRowView(const PortEntry &entry, bool isSelected, std::optional<RowError> rowError, std::function<void()> select,
                std::function<void()> kill, QWidget *parent = nullptr, QString rowErrorDetail = {});
    ~PortRowView() override;

    // Takes new inputs for the same entry id, touching only what changed. The row and its
    // buttons live on, so a press that straddles a render still ends in a click. The actions
    // are bound to the id and so stay as they are.
    void setInputs(const PortEntry &entry, bool isSelected, std::optional<RowError> rowError,
                   const QString &rowErrorDetail = {});
    const PortEntry &entry() const { return m_entry; }
    bool isSelected() const { return m_isSelected; }
    std::optional<RowError> rowError() const { return m_rowError; }

    static QString errorText(RowError error, const QString &detail = {});
    static bool hasDetailLine(const PortEntry &entry);
    // The line under the name: the working directory, a container's image and the word
    // "container", or the hint on another user's listener. None when there is none of these.
    static std::optional<QString> secondLine(const PortEntry &entry);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void setAccessibleNames();
    void setDetailLine();
    void setRowError(std::optional<RowError> rowError, const QString &detail);

    PortEntry m_entry;
    bool m_isSelected;
    std::optional<RowError> m_rowError;
    QString m_rowErrorDetail;
    std::function<void()> m_select;
    PlainButton *m_selectButton;
    QVBoxLayout *m_label;
    QVBoxLayout *m_texts;
    TextLabel *m_nameLabel;
    QWidget *m_detailLine = nullptr;
    TextLabel *m_errorLabel = nullptr;
    // One of the two: a kill button for the user's own process, else a stop as administrator.
    KillButton *m_killButton = nullptr;
    PlainButton *m_adminStopButton = nullptr;
};

} // namespace quaystone
