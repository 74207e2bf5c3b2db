#pragma once

#include "model/MainThreadTask.h"
#include "model/PortStore.h"
#include "support/StoreFakes.h"
#include "views/PopoverRootView.h"
#include "views/PortListView.h"
#include "views/PortRowView.h"
#include "views/TextLabel.h"

#include <QGuiApplication>
#include <QLayout>
#include <QPushButton>
#include <QStyleHints>
#include <QTextDocument>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>

// Readable strings in failure messages.
inline void PrintTo(const QString &text, std::ostream *os) {
    *os << '"' << text.toStdString() << '"';
}

namespace quaystone::test {

// The built rows under a widget, top to bottom.
inline QList<PortRowView *> rowsOf(QWidget *widget) {
    QList<PortRowView *> rows = widget->findChildren<PortRowView *>();
    std::sort(rows.begin(), rows.end(), [](auto *a, auto *b) { return a->y() < b->y(); });
    return rows;
}

// The texts of a view tree in reading order: layouts in order, list rows from the top.
inline QStringList textsOf(QWidget *widget) {
    if (auto *label = qobject_cast<QLabel *>(widget))
        return {label->text()};
    if (auto *button = qobject_cast<QPushButton *>(widget))
        return {button->text()};
    QStringList texts;
    if (auto *list = qobject_cast<PortListView *>(widget)) {
        for (PortRowView *row : rowsOf(list))
            texts += textsOf(row);
        return texts;
    }
    const std::function<void(QLayout *)> walk = [&](QLayout *layout) {
        for (int i = 0; layout && i < layout->count(); ++i) {
            if (QWidget *child = layout->itemAt(i)->widget())
                texts += textsOf(child);
            else
                walk(layout->itemAt(i)->layout());
        }
    };
    walk(widget->layout());
    return texts;
}

// A tooltip's text as Qt shows it: as rich text whenever it might be some.
inline QString shownToolTip(QWidget *widget) {
    QTextDocument shown;
    shown.setHtml(widget->toolTip());
    return Qt::mightBeRichText(widget->toolTip()) ? shown.toPlainText() : widget->toolTip();
}

// A store over the shared fakes (kills and stops as administrator answer at once), and the popover's root view over it.
class PopoverViewTest : public ::testing::Test {
public:
    PopoverViewTest() {
        // Tests click faster than any hand: their kills would pass for one double click.
        QGuiApplication::styleHints()->setMouseDoubleClickInterval(0);
        reset();
    }
    ~PopoverViewTest() override { drainEvents(); }

    void reset(PortStore::Clock clock = PortStore::systemNow) {
        m_view.reset();
        FakeServices fakes;
        m_store = storeOverFakes(fakes, std::move(clock));
        m_listing = fakes.listing;
        m_resolver = fakes.resolver;
        m_killer = fakes.killer;
        m_killer->held = false;
        m_administratorStopper = fakes.administratorStopper;
        m_administratorStopper->held = false;
        m_view = std::make_unique<PopoverRootView>(*m_store);
    }

    // A completed refresh that lists `entries` (directories read through the resolver), shown.
    void load(const QList<PortEntry> &entries) {
        for (const PortEntry &e : entries)
            m_resolver->directories.insert(e.pid(), e.workingDirectory());
        m_listing->answer = entries;
        QCoro::waitFor(m_store->refresh());
        m_view->show();
        drainEvents();
    }

    QWidget *find(const QString &name) { return m_view->findChild<QWidget *>(name); }

    PortRowView *rowOf(qint64 port) {
        QWidget *button = find(QStringLiteral("port-row-%1").arg(port));
        return button ? qobject_cast<PortRowView *>(button->parentWidget()) : nullptr;
    }

    PortStore &store() { return *m_store; }
    PopoverRootView &view() { return *m_view; }

    FakeListing *m_listing = nullptr;
    FakeResolver *m_resolver = nullptr;
    FakeKiller *m_killer = nullptr;
    FakeAdministratorStopper *m_administratorStopper = nullptr;
    std::unique_ptr<PortStore> m_store;
    std::unique_ptr<PopoverRootView> m_view;
};

} // namespace quaystone::test
