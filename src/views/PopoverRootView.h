#pragma once

#include <QPointer>
#include <QWidget>

class QVBoxLayout;

namespace quaystone {

class PortListView;
class PortStore;

// The popup's content: header, lazily built rows, messages and footer, rebuilt from the
// store on each change. Holds no state of its own; 320 wide, height from its content.
// The store must outlive the view.
class PopoverRootView : public QWidget {
    Q_OBJECT

public:
    static constexpr int popoverWidth = 320;

    explicit PopoverRootView(PortStore &store, QWidget *parent = nullptr);
    ~PopoverRootView() override;

protected:
    // Each time it comes on screen it renders anew (the footer's age is read at rendering)
    // and asks an idle store to refresh.
    void showEvent(QShowEvent *event) override;

private:
    // Several changes announced in one turn of the event loop cost one render.
    void scheduleRender();
    void render();
    void renderList();

    PortStore &m_store;
    QVBoxLayout *m_layout;
    // Kept across renders while rows are shown, so the scroll position survives a change.
    QPointer<PortListView> m_list;
    bool m_renderScheduled = false;
};

} // namespace quaystone
