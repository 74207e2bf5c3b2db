#include "app/PopupAccessibility.h"

#include <QAccessibleObject>
#include <QAccessibleWidget>
#include <QApplication>
#include <QWidget>
#include <QWindow>

namespace quaystone {

namespace {

// QAccessibleApplication lists the top-level windows except popups and the desktop (qtbase,
// src/gui/accessible/qaccessibleobject.cpp, topLevelObjects()). This one lists popups too while
// they are shown, the tray's menu included, whose accessible parent is already the application.
class ApplicationAccessible : public QAccessibleApplication {
public:
    int childCount() const override { return int(topLevelObjects().size()); }
    int indexOfChild(const QAccessibleInterface *child) const override {
        return child ? int(topLevelObjects().indexOf(child->object())) : -1;
    }
    QAccessibleInterface *child(int index) const override {
        const QObjectList objects = topLevelObjects();
        return index >= 0 && index < objects.size() ? QAccessible::queryAccessibleInterface(objects[index]) : nullptr;
    }

private:
    static QObjectList topLevelObjects() {
        QObjectList objects;
        for (QWindow *window : QGuiApplication::topLevelWindows()) {
            if (window->type() == Qt::Desktop || (window->type() == Qt::Popup && !window->isVisible()))
                continue;
            if (QAccessibleInterface *root = window->accessibleRoot(); root && root->object())
                objects.append(root->object());
        }
        return objects;
    }
};

QAccessibleInterface *popupFactory(const QString &className, QObject *object) {
    // The application answers to its most derived class name, the first one asked about.
    if (object == qApp && className == QLatin1String(object->metaObject()->className()))
        return new ApplicationAccessible;
    // A window to assistive technology, named by its title, whatever its window type; Qt would
    // make the popup a nameless pane ("filler").
    if (className == QLatin1String("quaystone::PopoverWindow") || className == QLatin1String("quaystone::PortsWindow"))
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    return nullptr;
}

} // namespace

void installPopupAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(popupFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace quaystone
