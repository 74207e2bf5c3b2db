#pragma once

#include <QDBusArgument>

namespace quaystone::dbus {

// A structure sent over D-Bus is its fields in order: these make each struct's stream operators
// one line each way.
template <typename... Fields>
QDBusArgument &writeStructure(QDBusArgument &argument, const Fields &...fields) {
    argument.beginStructure();
    (argument << ... << fields);
    argument.endStructure();
    return argument;
}

template <typename... Fields>
const QDBusArgument &readStructure(const QDBusArgument &argument, Fields &...fields) {
    argument.beginStructure();
    (argument >> ... >> fields);
    argument.endStructure();
    return argument;
}

} // namespace quaystone::dbus
