#include "app/DBusMenuExporter.h"

#include "app/DBusStructure.h"

#include <QAction>
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QMenu>

namespace quaystone::dbusmenu {

// The wire types of com.canonical.dbusmenu.
struct LayoutItem {
    int id = 0;
    QVariantMap properties;
    QList<LayoutItem> children;
};
struct ItemProperties {
    int id = 0;
    QVariantMap properties;
};
struct ItemPropertyNames {
    int id = 0;
    QStringList names;
};
struct Event {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using ItemPropertiesList = QList<ItemProperties>;
using ItemPropertyNamesList = QList<ItemPropertyNames>;
using EventList = QList<Event>;

// A layout item's children go as variants: that is how the format nests without a recursive type.
QDBusArgument &operator<<(QDBusArgument &argument, const LayoutItem &item) {
    argument.beginStructure();
    argument << item.id << item.properties;
    argument.beginArray(QMetaType::fromType<QDBusVariant>());
    for (const LayoutItem &child : item.children)
        argument << QDBusVariant(QVariant::fromValue(child));
    argument.endArray();
    argument.endStructure();
    return argument;
}
const QDBusArgument &operator>>(const QDBusArgument &argument, LayoutItem &item) {
    argument.beginStructure();
    argument >> item.id >> item.properties;
    argument.beginArray();
    item.children.clear();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        item.children.append(qdbus_cast<LayoutItem>(child.variant()));
    }
    argument.endArray();
    argument.endStructure();
    return argument;
}
QDBusArgument &operator<<(QDBusArgument &argument, const ItemProperties &item) {
    return dbus::writeStructure(argument, item.id, item.properties);
}
const QDBusArgument &operator>>(const QDBusArgument &argument, ItemProperties &item) {
    return dbus::readStructure(argument, item.id, item.properties);
}
QDBusArgument &operator<<(QDBusArgument &argument, const ItemPropertyNames &item) {
    return dbus::writeStructure(argument, item.id, item.names);
}
const QDBusArgument &operator>>(const QDBusArgument &argument, ItemPropertyNames &item) {
    return dbus::readStructure(argument, item.id, item.names);
}
QDBusArgument &operator<<(QDBusArgument &argument, const Event &event) {
    return dbus::writeStructure(argument, event.id, event.eventId, event.data, event.timestamp);
}
const QDBusArgument &operator>>(const QDBusArgument &argument, Event &event) {
    return dbus::readStructure(argument, event.id, event.eventId, event.data, event.timestamp);
}

} // namespace quaystone::dbusmenu

Q_DECLARE_METATYPE(quaystone::dbusmenu::LayoutItem)
Q_DECLARE_METATYPE(quaystone::dbusmenu::ItemProperties)
Q_DECLARE_METATYPE(quaystone::dbusmenu::ItemPropertyNames)
Q_DECLARE_METATYPE(quaystone::dbusmenu::Event)

namespace quaystone {

namespace {

using namespace dbusmenu;

// Qt marks a mnemonic with '&', the format with '_'.
QString menuLabel(const QString &text) {
    QString label;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'_')
            label += QStringLiteral("__");
        else if (c == u'&' && i + 1 < text.size())
            label += text.at(++i) == u'&' ? QStringLiteral("&") : QStringLiteral("_") + text.at(i);
        else
            label += c;
    }
    return label;
}

QVariantMap itemProperties(const QAction &action, const QStringList &wanted) {
    QVariantMap properties;
    if (action.isSeparator()) {
        properties.insert(QStringLiteral("type"), QStringLiteral("separator"));
    } else {
        properties.insert(QStringLiteral("label"), menuLabel(action.text()));
        if (action.isCheckable()) {
            properties.insert(QStringLiteral("toggle-type"), QStringLiteral("checkmark"));
            properties.insert(QStringLiteral("toggle-state"), action.isChecked() ? 1 : 0);
        }
    }
    // Only what differs from the defaults goes out.
    if (!action.isEnabled())
        properties.insert(QStringLiteral("enabled"), false);
    if (!action.isVisible())
        properties.insert(QStringLiteral("visible"), false);
    if (!wanted.isEmpty()) {
        for (auto it = properties.begin(); it != properties.end();)
            it = wanted.contains(it.key()) ? std::next(it) : properties.erase(it);
    }
    return properties;
}

} // namespace

class DBusMenuAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    explicit DBusMenuAdaptor(DBusMenuExporter &exporter)
        : QDBusAbstractAdaptor(&exporter)
        , m_exporter(exporter) {}

    uint version() const { return 3; }
    QString textDirection() const {
        return m_exporter.m_menu.layoutDirection() == Qt::RightToLeft ? QStringLiteral("rtl") : QStringLiteral("ltr");
    }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

    void announceLayout() { Q_EMIT LayoutUpdated(m_exporter.m_revision, 0); }

public Q_SLOTS:
    uint GetLayout(int parentId, int recursionDepth, const QStringList &propertyNames,
                   quaystone::dbusmenu::LayoutItem &layout) {
        layout = {};
        if (parentId == 0) {
            layout.properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
            if (recursionDepth != 0) {
                const QList<QAction *> actions = m_exporter.m_menu.actions();
                for (int i = 0; i < actions.size(); ++i)
                    layout.children.append({i + 1, itemProperties(*actions.at(i), propertyNames), {}});
            }
        } else if (const QAction *action = actionFor(parentId)) {
            layout.id = parentId;
            layout.properties = itemProperties(*action, propertyNames);
        }
        return m_exporter.m_revision;
    }

    quaystone::dbusmenu::ItemPropertiesList GetGroupProperties(const QList<int> &ids,
                                                               const QStringList &propertyNames) {
        ItemPropertiesList found;
        for (const int id : ids) {
            if (const QAction *action = actionFor(id))
                found.append({id, itemProperties(*action, propertyNames)});
        }
        return found;
    }

    QDBusVariant GetProperty(int id, const QString &name) {
        const QAction *action = actionFor(id);
        return QDBusVariant(action ? itemProperties(*action, {name}).value(name) : QVariant());
    }

    void Event(int id, const QString &eventId, const QDBusVariant &, uint) {
        if (eventId != QLatin1String("clicked"))
            return;
        // After the reply: a host may wait for it before it lets the menu go.
        if (QAction *action = actionFor(id); action && action->isEnabled())
            QMetaObject::invokeMethod(action, &QAction::trigger, Qt::QueuedConnection);
    }

    QList<int> EventGroup(const quaystone::dbusmenu::EventList &events) {
        QList<int> unknown;
        for (const dbusmenu::Event &event : events) {
            if (actionFor(event.id))
                Event(event.id, event.eventId, event.data, event.timestamp);
            else
                unknown.append(event.id);
        }
        return unknown;
    }

    bool AboutToShow(int id) {
        if (id == 0)
            Q_EMIT m_exporter.m_menu.aboutToShow();
        return false;
    }

    QList<int> AboutToShowGroup(const QList<int> &ids, QList<int> &idErrors) {
        for (const int id : ids) {
            if (id == 0)
                AboutToShow(0);
            else if (!actionFor(id))
                idErrors.append(id);
        }
        return {};
    }

Q_SIGNALS:
    void ItemsPropertiesUpdated(const quaystone::dbusmenu::ItemPropertiesList &updated,
                                const quaystone::dbusmenu::ItemPropertyNamesList &removed);
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

private:
    QAction *actionFor(int id) const {
        const QList<QAction *> actions = m_exporter.m_menu.actions();
        return id >= 1 && id <= actions.size() ? actions.at(id - 1) : nullptr;
    }

    DBusMenuExporter &m_exporter;
};

DBusMenuExporter::DBusMenuExporter(QMenu &menu, QObject *parent)
    : QObject(parent)
    , m_menu(menu) {
    qDBusRegisterMetaType<LayoutItem>();
    qDBusRegisterMetaType<ItemProperties>();
    qDBusRegisterMetaType<ItemPropertiesList>();
    qDBusRegisterMetaType<ItemPropertyNames>();
    qDBusRegisterMetaType<ItemPropertyNamesList>();
    qDBusRegisterMetaType<dbusmenu::Event>();
    qDBusRegisterMetaType<EventList>();
    auto *adaptor = new DBusMenuAdaptor(*this);
    // A check mark that flips or an item that is enabled changes what the host draws.
    for (QAction *action : m_menu.actions()) {
        connect(action, &QAction::changed, adaptor, [this, adaptor] {
            ++m_revision;
            adaptor->announceLayout();
        });
    }
}

DBusMenuExporter::~DBusMenuExporter() {
    if (m_exported)
        QDBusConnection::sessionBus().unregisterObject(QLatin1String(objectPath));
}

bool DBusMenuExporter::exportOnSessionBus() {
    m_exported =
        QDBusConnection::sessionBus().registerObject(QLatin1String(objectPath), this, QDBusConnection::ExportAdaptors);
    return m_exported;
}

} // namespace quaystone

#include "DBusMenuExporter.moc"
