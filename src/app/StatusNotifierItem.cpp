#include "app/StatusNotifierItem.h"

#include "app/DBusMenuExporter.h"
#include "app/DBusStructure.h"
#include "app/TrayLogging.h"

#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QImage>
#include <QtEndian>

namespace quaystone::sni {

struct Pixmap {
    int width = 0;
    int height = 0;
    QByteArray argb; // ARGB32, network byte order
};
using PixmapList = QList<Pixmap>;
struct ToolTip {
    QString iconName;
    PixmapList pixmaps;
    QString title;
    QString description;
};

QDBusArgument &operator<<(QDBusArgument &argument, const Pixmap &pixmap) {
    return dbus::writeStructure(argument, pixmap.width, pixmap.height, pixmap.argb);
}
const QDBusArgument &operator>>(const QDBusArgument &argument, Pixmap &pixmap) {
    return dbus::readStructure(argument, pixmap.width, pixmap.height, pixmap.argb);
}
QDBusArgument &operator<<(QDBusArgument &argument, const ToolTip &toolTip) {
    return dbus::writeStructure(argument, toolTip.iconName, toolTip.pixmaps, toolTip.title, toolTip.description);
}
const QDBusArgument &operator>>(const QDBusArgument &argument, ToolTip &toolTip) {
    return dbus::readStructure(argument, toolTip.iconName, toolTip.pixmaps, toolTip.title, toolTip.description);
}

} // namespace quaystone::sni

Q_DECLARE_METATYPE(quaystone::sni::Pixmap)
Q_DECLARE_METATYPE(quaystone::sni::ToolTip)

namespace quaystone {

namespace {

using namespace sni;

constexpr auto itemPath = "/StatusNotifierItem";

PixmapList pixmapsOf(const QIcon &icon) {
    PixmapList pixmaps;
    for (const int side : {16, 22, 24, 32, 48}) {
        const QImage image = icon.pixmap(side).toImage().convertToFormat(QImage::Format_ARGB32);
        if (image.isNull())
            continue;
        Pixmap pixmap{image.width(), image.height(), {}};
        pixmap.argb.resize(qsizetype(image.width()) * image.height() * 4);
        auto *out = reinterpret_cast<uchar *>(pixmap.argb.data());
        for (int y = 0; y < image.height(); ++y) {
            const auto *line = reinterpret_cast<const quint32 *>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x, out += 4)
                qToBigEndian(line[x], out);
        }
        pixmaps.append(pixmap);
    }
    return pixmaps;
}

} // namespace

class StatusNotifierItemAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconThemePath READ empty)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(quaystone::sni::PixmapList IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ empty)
    Q_PROPERTY(quaystone::sni::PixmapList OverlayIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionIconName READ empty)
    Q_PROPERTY(quaystone::sni::PixmapList AttentionIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionMovieName READ empty)
    Q_PROPERTY(quaystone::sni::ToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)

public:
    explicit StatusNotifierItemAdaptor(StatusNotifierItem &item)
        : QDBusAbstractAdaptor(&item)
        , m_item(item)
        , m_pixmaps(pixmapsOf(item.m_icon)) {}

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return QStringLiteral("quaystone"); }
    QString title() const { return QStringLiteral("Quaystone"); }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString empty() const { return {}; }
    // The theme's icon by name, so that the host can recolour a symbolic one; the pixmaps too,
    // for a build that is not installed.
    QString iconName() const { return m_item.m_icon.name(); }
    PixmapList iconPixmap() const { return m_pixmaps; }
    PixmapList noPixmaps() const { return {}; }
    ToolTip toolTip() const { return {{}, {}, m_item.m_toolTip, {}}; }
    bool itemIsMenu() const { return false; }
    QDBusObjectPath menu() const { return QDBusObjectPath(QLatin1String(DBusMenuExporter::objectPath)); }

public Q_SLOTS:
    void Activate(int x, int y) {
        qCDebug(lcTray) << "activated by the host at" << x << y;
        Q_EMIT m_item.activated(QPoint(x, y));
    }
    void ContextMenu(int x, int y) {
        qCDebug(lcTray) << "menu asked for by the host at" << x << y;
        Q_EMIT m_item.contextMenuRequested(QPoint(x, y));
    }
    void SecondaryActivate(int, int) {}
    void Scroll(int, const QString &) {}

Q_SIGNALS:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString &status);

private:
    StatusNotifierItem &m_item;
    PixmapList m_pixmaps;
};

StatusNotifierItem::StatusNotifierItem(const QIcon &icon, const QString &toolTip, QMenu &menu, QObject *parent)
    : QObject(parent)
    , m_icon(icon)
    , m_toolTip(toolTip)
    , m_menuExporter(new DBusMenuExporter(menu, this)) {
    qDBusRegisterMetaType<Pixmap>();
    qDBusRegisterMetaType<PixmapList>();
    qDBusRegisterMetaType<ToolTip>();
    new StatusNotifierItemAdaptor(*this);
}

StatusNotifierItem::~StatusNotifierItem() {
    QDBusConnection::sessionBus().unregisterObject(QLatin1String(itemPath));
}

bool StatusNotifierItem::registerWithWatcher() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QLatin1String(itemPath), this, QDBusConnection::ExportAdaptors) ||
        !m_menuExporter->exportOnSessionBus()) {
        qCWarning(lcTray) << "cannot export the tray icon on the session bus:" << bus.lastError().message();
        return false;
    }
    // By the connection's own name: a host that watches a well-known name as well can see it appear
    // after it has read the item, and GNOME's AppIndicator extension drops the item then.
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.kde.StatusNotifierWatcher"), QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.kde.StatusNotifierWatcher"), QStringLiteral("RegisterStatusNotifierItem"));
    bus.send(call << bus.baseService());
    return true;
}

} // namespace quaystone

#include "StatusNotifierItem.moc"
