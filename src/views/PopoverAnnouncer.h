#pragma once

#include <QList>
#include <QObject>
#include <QString>

namespace quaystone {

// One message, fixed for its life, so that a screen reader that reads it late still reads it
// and not a later one.
class PopoverAnnouncement : public QObject {
    Q_OBJECT

public:
    PopoverAnnouncement(const QString &message, QObject *parent);
    const QString &message() const { return m_message; }

private:
    QString m_message;
};

// Speaks short messages through the accessibility bus. Qt 6.4 has no announcement event, so
// each message is an accessible notification that starts showing: Orca reads a notification
// when it starts showing, whatever has the focus. The latest few stay, the older ones go.
class PopoverAnnouncer : public QObject {
    Q_OBJECT

public:
    static constexpr qsizetype kept = 4;

    explicit PopoverAnnouncer(QObject *parent = nullptr);

    void announce(const QString &message);
    // The kept messages, oldest first.
    QList<QObject *> announcements() const;

private:
    QList<PopoverAnnouncement *> m_announcements;
};

} // namespace quaystone
