#pragma once

#include <QObject>
#include <QString>

namespace quaystone {

// Speaks a short message through the accessibility bus. Qt 6.4 has no announcement event, so
// the announcer is an accessible notification that shows itself anew with each message: Orca
// reads a notification when it starts showing, whatever has the focus.
class PopoverAnnouncer : public QObject {
    Q_OBJECT

public:
    explicit PopoverAnnouncer(QObject *parent = nullptr);

    void announce(const QString &message);
    // The latest message; empty before the first.
    const QString &message() const { return m_message; }

private:
    QString m_message;
};

} // namespace quaystone
