#include "app/LaunchOptions.h"

namespace quaystone {

namespace {

// The options that Qt 6.4's QGuiApplication, QApplication and xcb platform plugin take from the
// command line themselves, with one dash or two. Those in the first list take the next argument as
// their value; the last few may carry it after "=" instead.
const QStringList qtOptionsWithValue = {
    QStringLiteral("platform"),
    QStringLiteral("platformpluginpath"),
    QStringLiteral("platformtheme"),
    QStringLiteral("plugin"),
    QStringLiteral("qwindowgeometry"),
    QStringLiteral("qwindowicon"),
    QStringLiteral("qwindowtitle"),
    QStringLiteral("geometry"),
    QStringLiteral("icon"),
    QStringLiteral("title"),
    QStringLiteral("session"),
    QStringLiteral("display"),
    QStringLiteral("name"),
    QStringLiteral("visual"),
    QStringLiteral("style"),
    QStringLiteral("stylesheet"),
};
const QStringList qtFlags = {
    QStringLiteral("reverse"), QStringLiteral("widgetcount"), QStringLiteral("nograb"),
    QStringLiteral("dograb"),  QStringLiteral("testability"),
};
const QStringList qtOptionsWithInlineValue = {
    QStringLiteral("style"),
    QStringLiteral("stylesheet"),
    QStringLiteral("qmljsdebugger"),
};

enum class QtOption { none, flag, withValue };

QtOption qtOption(const QString &argument) {
    QStringView name(argument);
    if (name.startsWith(u"--"))
        name = name.sliced(2);
    else if (name.startsWith(u'-'))
        name = name.sliced(1);
    else
        return QtOption::none;
    const qsizetype equals = name.indexOf(u'=');
    if (equals >= 0)
        return qtOptionsWithInlineValue.contains(name.first(equals)) ? QtOption::flag : QtOption::none;
    if (qtOptionsWithValue.contains(name))
        return QtOption::withValue;
    return qtFlags.contains(name) ? QtOption::flag : QtOption::none;
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
        if (argument == QLatin1String("--stop")) {
            if (++i == arguments.size())
                return QStringLiteral("--stop needs a port");
            options.stopPort = arguments[i];
        } else if (argument == QLatin1String("--help") || argument == QLatin1String("-h"))
            help = true;
        else if (argument == QLatin1String("--version"))
            version = true;
        else if (argument == QLatin1String("--list"))
            list = true;
        else if (argument == QLatin1String("--json"))
            json = true;
        else if (argument == QLatin1String("--lsof"))
            options.listingSource = ListingSource::lsof;
        else if (argument == QLatin1String("--background") || argument == QLatin1String("--toggle")) {
            const StartMode mode = argument == QLatin1String("--toggle") ? StartMode::toggle : StartMode::background;
            if (options.startMode != StartMode::interactive && options.startMode != mode)
                return QStringLiteral("--background and --toggle cannot be combined");
            options.startMode = mode;
        } else if (argument == QLatin1String("--ui-test-host"))
            options.uiTestHostEnabled = true;
        else if (argument == QLatin1String("--ui-test-kill-permission-denied"))
            options.uiTestScenario = UITestScenario::killPermissionDenied;
        else if (const QtOption qt = qtOption(argument); qt != QtOption::none) {
            if (qt == QtOption::withValue && ++i == arguments.size())
                return QStringLiteral("option '%1' needs a value").arg(argument);
        } else if (argument.startsWith(u'-') && argument.size() > 1)
            return QStringLiteral("unknown option '%1'").arg(argument);
        else
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
    if (options.stopPort && (list || options.uiTestHostEnabled || options.startMode != StartMode::interactive))
        return QStringLiteral("--stop goes alone");
    if (options.startMode != StartMode::interactive && (list || options.uiTestHostEnabled))
        return QStringLiteral("--background and --toggle go with the tray app only");
    if (options.stopPort)
        options.terminalCommand = TerminalCommand::stop;
    if (list)
        options.terminalCommand = json ? TerminalCommand::listJson : TerminalCommand::listTable;
    return options;
}

QString LaunchOptions::helpText() {
    return QStringLiteral(
        "Usage: quaystone [--background | --toggle | --list [--json] | --stop PORT | --help | --version]\n"
        "       quaystone --lsof [--list [--json]]\n"
        "       quaystone --ui-test-host [--ui-test-kill-permission-denied]\n"
        "\n"
        "Lists the local processes listening on TCP ports 3000 to 9999 and stops them.\n"
        "Without options, starts in the system tray, or shows the ports in a window where\n"
        "there is no tray. One instance runs per session: a later start shows the running\n"
        "one's ports and exits.\n"
        "\n"
        "Options:\n"
        "  --background  Start showing nothing until asked (the autostart entry and the\n"
        "                D-Bus activation use it).\n"
        "  --toggle      Open or close the running instance's ports (its popup, or its\n"
        "                window where there is no tray); starts it if none runs. Meant\n"
        "                for a keyboard shortcut.\n"
        "  --list        Print the listeners as a table (PORT, PID, USER, NAME, DIRECTORY)\n"
        "                and exit. Needs no display.\n"
        "  --json        With --list, print a JSON array instead, one object per listener\n"
        "                (port, pid, user, uid, name, commandLine, workingDirectory,\n"
        "                workingDirectoryDeleted, container {id, name, image}; null where\n"
        "                unknown).\n"
        "  --stop PORT   Stop every process listening on PORT (3000-9999) and exit: your own\n"
        "                directly, other users' as administrator after authentication\n"
        "                through polkit. Needs no display.\n"
        "                Exit status: 0 stopped, 1 failed, 3 nothing listens, 4 not\n"
        "                authorized, 5 unavailable, 6 authentication cancelled.\n"
        "  --lsof        Read the listeners with lsof rather than from the kernel's socket\n"
        "                table and /proc (lsof is used anyway where those cannot serve).\n"
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
        "printed on standard error), the tray app cannot start or the running one does not\n"
        "answer; 2 for a wrong command line.\n");
}

QString LaunchOptions::versionText() {
    return QStringLiteral("quaystone " QUAYSTONE_VERSION "\n");
}

} // namespace quaystone
