#include "app/AppDelegate.h"
#include "app/DBusApplicationService.h"
#include "app/GlobalShortcutPortal.h"
#include "app/LaunchOptions.h"
#include "app/TerminalListing.h"
#include "app/TerminalStop.h"
#include "app/WindowSystem.h"

#include <QApplication>
#include <QCoreApplication>
#include <QIcon>

#include <cstdio>
#include <cstdlib>
#include <memory>

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

constexpr int usageExitStatus = 2;

// A full disk or a closed pipe must not pass for a printed answer.
int printAndExit(const QString &text) {
    const QByteArray bytes = text.toUtf8();
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size()) ||
        std::fflush(stdout) != 0) {
        std::perror("quaystone: writing to standard output");
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}

int runInTerminal(int argc, char **argv, const quaystone::LaunchOptions &options) {
    using quaystone::TerminalCommand;
    using quaystone::TerminalListing;
    const TerminalCommand command = options.terminalCommand;
    switch (command) {
    case TerminalCommand::help:
        return printAndExit(quaystone::LaunchOptions::helpText());
    case TerminalCommand::version:
        return printAndExit(quaystone::LaunchOptions::versionText());
    case TerminalCommand::listTable:
    case TerminalCommand::listJson: {
        // The event loop for the listing's child process; no display is opened.
        QCoreApplication app(argc, argv);
        return TerminalListing::run(command == TerminalCommand::listJson ? TerminalListing::Format::json
                                                                         : TerminalListing::Format::table,
                                    options.listingSource);
    }
    case TerminalCommand::stop: {
        QCoreApplication app(argc, argv);
        return quaystone::terminalstop::runOnEventLoop(options.stopPort.value_or(QString()));
    }
    case TerminalCommand::none:
        break;
    }
    return EXIT_FAILURE;
}

} // namespace

int main(int argc, char **argv) {
    // Read before any application object exists, so that the terminal commands never need a display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const auto parsed = quaystone::LaunchOptions::parse(arguments);
    if (!parsed) {
        std::fprintf(stderr, "quaystone: %s\nTry 'quaystone --help' for the options.\n",
                     qUtf8Printable(parsed.error()));
        return usageExitStatus;
    }
    const quaystone::LaunchOptions options = parsed.value();
    if (options.terminalCommand != quaystone::TerminalCommand::none)
        return runInTerminal(argc, argv, options);

    defaultHandler = qInstallMessageHandler(exitOnFatalStartupMessage);
    const bool choseXwayland = quaystone::preferXwaylandInWaylandSession();
    QApplication app(argc, argv);
    qInstallMessageHandler(defaultHandler);
    // The choice is the app's own, not one for the programs it runs.
    if (choseXwayland)
        qunsetenv("QT_QPA_PLATFORM");
    QApplication::setApplicationName(QStringLiteral("Quaystone"));
    // The installed desktop entry's id, so that sessions match the app's windows to its entry and icon.
    QApplication::setDesktopFileName(QStringLiteral(QUAYSTONE_APP_ID));
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("quaystone"), QIcon(QStringLiteral(":/quaystone/quaystone.svg"))));

    // One instance per session; UI-test mode never meets the running one.
    using quaystone::DBusApplicationService;
    std::unique_ptr<DBusApplicationService> service;
    if (!options.uiTestHostEnabled) {
        service = std::make_unique<DBusApplicationService>();
        if (service->claim() == DBusApplicationService::Claim::takenByRunningInstance) {
            // The autostart entry's start finds the app already there and leaves it be.
            if (options.startMode == quaystone::StartMode::background)
                return EXIT_SUCCESS;
            const auto request = options.startMode == quaystone::StartMode::toggle
                                     ? DBusApplicationService::Request::toggle
                                     : DBusApplicationService::Request::activate;
            return DBusApplicationService::askRunningInstance(request) ? EXIT_SUCCESS : EXIT_FAILURE;
        }
    }

    quaystone::AppDelegate delegate(options);
    quaystone::GlobalShortcutPortal shortcutPortal;
    if (service) {
        // Queued by the bus: nothing arrives before the app below is built.
        QObject::connect(service.get(), &DBusApplicationService::activateRequested, &delegate,
                         &quaystone::AppDelegate::activate);
        QObject::connect(service.get(), &DBusApplicationService::toggleRequested, &delegate,
                         &quaystone::AppDelegate::toggle);
        QObject::connect(&shortcutPortal, &quaystone::GlobalShortcutPortal::activated, &delegate,
                         &quaystone::AppDelegate::toggle);
    }
    delegate.applicationDidFinishLaunching();
    if (service)
        shortcutPortal.start();
    return app.exec();
}
