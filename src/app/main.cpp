#include "app/AppDelegate.h"
#include "app/LaunchOptions.h"
#include "app/TerminalStop.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

namespace {

QtMessageHandler defaultHandler = nullptr;

// Qt aborts, dumping core, when it cannot open the display. A desktop app started outside a
// graphical session should say so and exit instead.
void exitOnFatalStartupMessage(QtMsgType type, const QMessageLogContext &context, const QString &message) {
    if (defaultHandler)
        defaultHandler(type, context, message);
    if (type == QtFatalMsg) {
        std::fputs("quaystone: cannot start without a graphical session (is DISPLAY or WAYLAND_DISPLAY set?)\n",
                   stderr);
        std::_Exit(EXIT_FAILURE);
    }
}

} // namespace

int main(int argc, char **argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const quaystone::LaunchOptions options = quaystone::LaunchOptions::fromArguments(arguments);
    if (options.stopPort) {
        // A terminal command: no display is opened or needed.
        QCoreApplication app(argc, argv);
        return quaystone::terminalstop::runOnEventLoop(*options.stopPort);
    }

    defaultHandler = qInstallMessageHandler(exitOnFatalStartupMessage);
    QApplication app(argc, argv);
    qInstallMessageHandler(defaultHandler);
    QApplication::setApplicationName(QStringLiteral("Quaystone"));
    QApplication::setDesktopFileName(QStringLiteral("quaystone"));

    quaystone::AppDelegate delegate(quaystone::LaunchOptions::fromArguments(QApplication::arguments()));
    delegate.applicationDidFinishLaunching();
    return app.exec();
}
