#include "PopoverAnnouncer.h"

#include <QAccessible>

namespace quaystone {

PopoverAnnouncement::PopoverAnnouncement(const QString &message, QObject *parent)
    : QObject(parent)
    , m_message(message) {
    setObjectName(QStringLiteral("popover-announcement"));
}

PopoverAnnouncer::PopoverAnnouncer(QObject *parent)
    : QObject(parent) {}

void PopoverAnnouncer::announce(const QString &message) {
    if (m_announcements.size() >= kept) {
        PopoverAnnouncement *oldest = m_announcements.takeFirst();
        QAccessibleEvent removed(oldest, QAccessible::ObjectDestroyed);
        QAccessible::updateAccessibility(&removed);
        delete oldest;
    }
    auto *announcement = new PopoverAnnouncement(message, this);
    m_announcements.append(announcement);
    QAccessibleEvent created(announcement, QAccessible::ObjectCreated);
    QAccessible::updateAccessibility(&created);
    QAccessibleEvent shown(announcement, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
}

QList<QObject *> PopoverAnnouncer::announcements() const {
    return {m_announcements.cbegin(), m_announcements.cend()};
}

} // namespace quaystone
