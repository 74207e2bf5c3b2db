#include "PopoverAnnouncer.h"

#include <QAccessible>

namespace quaystone {

PopoverAnnouncer::PopoverAnnouncer(QObject *parent)
    : QObject(parent) {
    setObjectName(QStringLiteral("popover-announcer"));
}

void PopoverAnnouncer::announce(const QString &message) {
    m_message = message;
    // The name first, so that a reader that caches it has the new one when the show arrives.
    QAccessibleEvent renamed(this, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&renamed);
    QAccessibleEvent shown(this, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
}

} // namespace quaystone
