#pragma once

#include "PopoverAnnouncements.h"

#include <QPointer>
#include <QWidget>

class QVBoxLayout;

namespace quaystone {

class Divider;
class PopoverAnnouncer;
class PopoverFooterView;
class PopoverHeaderView;
class PortListView;
class PortStore;

// The popup's content: header, lazily built rows, messages and footer, rendered from the
// store on each change; parts that stay as they were are kept. Beyond its widgets it keeps
// only what assistive technology has been told. 320 wide at the default font size, height from
// its content. The store must outlive the view.
class PopoverRootView : public QWidget {
    Q_OBJECT

public:
    explicit PopoverRootView(PortStore &store, QWidget *parent = nullptr);
    ~PopoverRootView() override;

    // The shown parts top to bottom, then the latest announcements: the order a screen reader
    // reads.
    QList<QObject *> accessibleChildren() const;
    // How many rows a page down (direction 1) or up (-1) moves the selection.
    int pageStep(int direction) const;

protected:
    // Each time it comes on screen it renders anew (the footer's age is read at rendering)
    // and asks an idle store to refresh.
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    // Several changes in one turn of the event loop cost one render.
    void scheduleRender();
    void render();
    void renderList();
    void renderMessage(const QString &title, const std::optional<QString> &subtitle);
    void renderError(const QString &description);
    void noteChanges();
    void announcePending();
    void setTellsFocus(bool tells);

    PortStore &m_store;
    QVBoxLayout *m_layout;
    // Kept across renders while rows are shown, so the scroll position survives a change.
    QPointer<PortListView> m_list;
    // The header, the footer and a message are kept while they stay, so that a render that
    // leaves them as they were does not rebuild them for a screen reader to hear again.
    QPointer<PopoverHeaderView> m_header;
    QPointer<Divider> m_headerDivider;
    QPointer<QWidget> m_message;
    QString m_messageKey;
    QPointer<Divider> m_footerDivider;
    QPointer<PopoverFooterView> m_footer;
    PopoverAnnouncer *m_announcer;
    PopoverAnnouncements m_announcements;
    QStringList m_pendingAnnouncements;
    // The window is shown, assistive technology knows it, and it is active: the selected row
    // has the focus.
    bool m_tellsFocus = false;
    bool m_renderScheduled = false;
};

} // namespace quaystone
