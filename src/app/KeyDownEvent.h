#pragma once

#include <QString>
#include <Qt>

namespace quaystone {

// The fields of a key press that the popup's keyboard commands look at.
struct KeyDownEvent {
    int key = 0; // a Qt::Key
    QString text;
    Qt::KeyboardModifiers modifiers;
    bool isAutoRepeat = false; // sent by the system while the key is held
};

} // namespace quaystone
