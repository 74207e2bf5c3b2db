#include "app/AppDelegate.h"
#include "app/LaunchOptions.h"

#include <QApplication>

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quaystone"));
    QApplication::setDesktopFileName(QStringLiteral("quaystone"));

    quaystone::AppDelegate delegate(quaystone::LaunchOptions::fromArguments(QApplication::arguments()));
    delegate.applicationDidFinishLaunching();
    return app.exec();
}
