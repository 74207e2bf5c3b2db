#pragma once

#include "ViewStyle.h"
#include "model/PortEntry.h"
#include "model/RowError.h"

#include <QWidget>

#include <functional>
#include <optional>

class QPushButton;
class QVBoxLayout;

namespace quaystone {

class KillButton;
class PlainButton;
class TextLabel;

// One listening socket: the port, the process name and, when known, its working directory,
// an error line after a failed kill (wrapped, never elided), and a kill button. A click anywhere
// but on the kill button selects the row. A listener of another user shows its owner (wrapped,
// never elided) and, under it in place of the kill button, a button that stops it as
// administrator: there is no process this user could signal. That button takes the keyboard
// focus by Tab while its row is selected.
class PortRowView : public QWidget {
    Q_OBJECT

public:
    static constexpr int columnSpacing = 12;
    // 48 pixels at the default font size.
    static int portColumnWidth();

    // A row's height follows from its entry, its error's text, the fonts and the row's width;
    // the list places rows it has not built from these.
    class Heights {
    public:
        explicit Heights(int rowWidth = popoverWidth());
        int of(const PortEntry &entry, const std::optional<QString> &errorText) const;
        // A row of the user's own process whose error, if any, takes one line.
        int of(bool hasDirectory, bool hasError) const;

    private:
        int m_rowWidth;
        int m_port, m_name, m_directory, m_error, m_adminButton;
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
    // The full folder on one line, the command line under it.
    static QString toolTipText(const PortEntry &entry);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool event(QEvent *event) override;

private:
    void setAccessibleNames();
    void setDetailLine();
    void setRowError(std::optional<RowError> rowError, const QString &detail);
    void applySelection();
    void wrapTexts();

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
    QPushButton *m_adminStopButton = nullptr;
};

} // namespace quaystone
