#include "app/LaunchOptions.h"

namespace quaystone {

namespace {

bool isQtOption(const QString &argument) {
    return argument.size() > 1 && argument.startsWith(u'-') && !argument.startsWith(QLatin1String("--"));
}

} // namespace

Result<LaunchOptions, QString> LaunchOptions::parse(const QStringList &arguments) {
    LaunchOptions options;
    bool list = false;
    bool json = false;
    bool help = false;
    bool version = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h"))
            help = true;
        else if (argument == QLatin1String("--version"))
            version = true;
        else if (argument == QLatin1String("--list"))
            list = true;
        else if (argument == QLatin1String("--json"))
            json = true;
        else if (argument == QLatin1String("--ui-test-host"))
            options.uiTestHostEnabled = true;
        else if (argument == QLatin1String("--ui-test-kill-permission-denied"))
            options.uiTestScenario = UITestScenario::killPermissionDenied;
        else if (argument.startsWith(QLatin1String("--")))
            return QStringLiteral("unknown option '%1'").arg(argument);
        else if (isQtOption(argument)) {
            if (i + 1 < arguments.size() && !arguments[i + 1].startsWith(u'-'))
                ++i;
        } else
            return QStringLiteral("unexpected argument '%1'").arg(argument);
    }

    // Asking for help is always answered, whatever else the line holds.
    if (help) {
        options.terminalCommand = TerminalCommand::help;
        return options;
    }
    if (version) {
        options.terminalCommand = TerminalCommand::version;
        return options;
    }
    if (json && !list)
        return QStringLiteral("--json goes with --list");
    if (list && options.uiTestHostEnabled)
        return QStringLiteral("--list and --ui-test-host cannot be combined");
    if (list)
        options.terminalCommand = json ? TerminalCommand::listJson : TerminalCommand::listTable;
    return options;
}

QString LaunchOptions::helpText() {
    return QStringLiteral("Usage: quaystone [--list [--json]] [--ui-test-host [--ui-test-kill-permission-denied]]\n"
                          "\n"
                          "Lists the local processes listening on TCP ports 3000 to 9999 and stops them.\n"
                          "Without options, starts in the system tray.\n"
                          "\n"
                          "Options:\n"
                          "  --list        Print the listeners as a table (PORT, PID, USER, NAME, DIRECTORY)\n"
                          "                and exit. Needs no display.\n"
                          "  --json        With --list, print a JSON array instead, one object per listener\n"
                          "                (port, pid, user, uid, name, commandLine, workingDirectory,\n"
                          "                workingDirectoryDeleted; null where unknown).\n"
                          "  -h, --help    Print this help and exit.\n"
                          "  --version     Print the version and exit.\n"
                          "\n"
                          "Options for automated UI tests:\n"
                          "  --ui-test-host\n"
                          "                Show the popup's views in an ordinary window over fake services\n"
                          "                with two fixed listeners (ports 4242 and 5252).\n"
                          "  --ui-test-kill-permission-denied\n"
                          "                With --ui-test-host, the fake killer refuses the listener on 5252.\n"
                          "\n"
                          "Options with a single dash (-platform, -display, -style, ...) are Qt's own and are\n"
                          "passed to Qt.\n"
                          "\n"
                          "Exit status: 0 on success; 1 when the listeners could not be listed (the reason is\n"
                          "printed on standard error) or the tray app cannot start; 2 for a wrong command line.\n");
}

QString LaunchOptions::versionText() {
    return QStringLiteral("quaystone " QUAYSTONE_VERSION "\n");
}

} // namespace quaystone
