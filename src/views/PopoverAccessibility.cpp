#include "PopoverAccessibility.h"

#include "Divider.h"
#include "PopoverAnnouncer.h"
#include "PopoverRootView.h"
#include "PortListView.h"
#include "PortRowView.h"
#include "model/DisplayText.h"

#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QDir>

namespace quaystone {

namespace {

// A widget whose accessible children are given in reading order, rather than in the order in
// which the widgets happened to be created (Qt's default).
template <typename View>
class OrderedAccessible : public QAccessibleWidget {
public:
    OrderedAccessible(View *view, QAccessible::Role role)
        : QAccessibleWidget(view, role) {}

    int childCount() const override { return int(children().size()); }
    QAccessibleInterface *child(int index) const override {
        const QList<QObject *> list = children();
        return index >= 0 && index < list.size() ? QAccessible::queryAccessibleInterface(list[index]) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override {
        return child ? int(children().indexOf(child->object())) : -1;
    }

protected:
    View *view() const { return static_cast<View *>(object()); }
    virtual QList<QObject *> children() const = 0;
};

class RootAccessible : public OrderedAccessible<PopoverRootView> {
public:
    explicit RootAccessible(PopoverRootView *view)
        : OrderedAccessible(view, QAccessible::Pane) {}

protected:
    QList<QObject *> children() const override { return view()->accessibleChildren(); }
};

// The rows that exist, top to bottom. Rows out of view are not built, so they are not listed;
// the list scrolls the selected row into view before it gives it the focus.
class ListAccessible : public OrderedAccessible<PortListView> {
public:
    explicit ListAccessible(PortListView *view)
        : OrderedAccessible(view, QAccessible::List) {}

    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name ? PortListView::tr("Listening ports") : QAccessibleWidget::text(t);
    }
    QAccessibleInterface *focusChild() const override {
        for (QObject *row : children()) {
            if (static_cast<PortRowView *>(row)->isSelected())
                return QAccessible::queryAccessibleInterface(row);
        }
        return nullptr;
    }

protected:
    QList<QObject *> children() const override {
        QList<QObject *> rows;
        for (PortRowView *row : view()->builtRows())
            rows.append(row);
        return rows;
    }
};

class RowAccessible : public QAccessibleWidget {
public:
    explicit RowAccessible(PortRowView *row)
        : QAccessibleWidget(row, QAccessible::ListItem) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name)
            return spokenRowName(row()->entry(), row()->rowError(), QDir::homePath());
        return QAccessibleWidget::text(t);
    }

    // The store's selection stands in for the keyboard focus: the window handles the keys
    // itself, and the selected row is where they act.
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.selectable = true;
        state.focusable = true;
        state.selected = row()->isSelected();
        state.focused = state.selected && row()->isVisible() && row()->isActiveWindow();
        return state;
    }

    // The row's widget parent is the scroll area's viewport; the list is its accessible parent.
    QAccessibleInterface *parent() const override {
        for (QWidget *widget = row()->parentWidget(); widget; widget = widget->parentWidget()) {
            if (auto *list = qobject_cast<PortListView *>(widget))
                return QAccessible::queryAccessibleInterface(list);
        }
        return QAccessibleWidget::parent();
    }

private:
    PortRowView *row() const { return static_cast<PortRowView *>(object()); }
};

// A message of the announcer, read in the popup's tree after the footer.
class AnnouncementAccessible : public QAccessibleObject {
public:
    explicit AnnouncementAccessible(PopoverAnnouncement *announcement)
        : QAccessibleObject(announcement) {}

    // The announcer is no element of its own: its messages are children of the popup's root.
    QAccessibleInterface *parent() const override {
        QObject *announcer = object()->parent();
        return announcer ? QAccessible::queryAccessibleInterface(announcer->parent()) : nullptr;
    }
    int childCount() const override { return 0; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name ? static_cast<PopoverAnnouncement *>(object())->message() : QString();
    }
    QAccessible::Role role() const override { return QAccessible::Notification; }
    QAccessible::State state() const override {
        QAccessible::State state;
        state.readOnly = true;
        return state;
    }
};

QAccessibleInterface *popoverFactory(const QString &className, QObject *object) {
    if (className == QLatin1String("quaystone::PortRowView"))
        return new RowAccessible(static_cast<PortRowView *>(object));
    if (className == QLatin1String("quaystone::PortListView"))
        return new ListAccessible(static_cast<PortListView *>(object));
    if (className == QLatin1String("quaystone::PopoverRootView"))
        return new RootAccessible(static_cast<PopoverRootView *>(object));
    if (className == QLatin1String("quaystone::Divider"))
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Separator);
    if (className == QLatin1String("quaystone::PopoverAnnouncement"))
        return new AnnouncementAccessible(static_cast<PopoverAnnouncement *>(object));
    return nullptr;
}

} // namespace

void installPopoverAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(popoverFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

QString spokenDirectory(const QString &path, const QString &home) {
    // A home of "/" (or none) would turn every path into "~".
    const QString base = QDir::cleanPath(home);
    if (base.isEmpty() || base == QLatin1String("/") || !QDir::isAbsolutePath(base))
        return path;
    if (path == base || path == base + QLatin1Char('/'))
        return QStringLiteral("~");
    if (path.startsWith(base + QLatin1Char('/')))
        return QStringLiteral("~") + path.mid(base.size());
    return path;
}

QString spokenRowName(const PortEntry &entry, std::optional<RowError> rowError, const QString &home) {
    // Names and folders come from other processes: read out as the row shows them, escaped.
    const QString port = QString::number(entry.port());
    QString name;
    if (entry.container())
        name = PortRowView::tr("Port %1, container %2, image %3")
                   .arg(port, displayText(entry.processName()), displayText(entry.container()->image));
    else if (!entry.hasProcess())
        name = PortRowView::tr("Port %1, owned by %2, another user").arg(port, displayText(entry.ownerName()));
    else
        name = PortRowView::tr("Port %1, %2").arg(port, displayText(entry.processName()));
    if (entry.hasProcess() && entry.workingDirectory())
        name += QStringLiteral(", ") + displayText(spokenDirectory(*entry.workingDirectory(), home));
    if (rowError)
        name += QStringLiteral(", ") + PortRowView::errorText(*rowError);
    return name;
}

} // namespace quaystone
