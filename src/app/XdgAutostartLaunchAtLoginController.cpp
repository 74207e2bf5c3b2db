#include "app/XdgAutostartLaunchAtLoginController.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace quaystone {

namespace {

// Anything larger is not an entry we wrote, and is not worth reading on the main thread.
constexpr qint64 largestEntryBytes = 64 * 1024;

QString configHome() {
    // The XDG Base Directory rules: an empty or relative XDG_CONFIG_HOME is ignored.
    const QString fromEnvironment = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!fromEnvironment.isEmpty() && QDir::isAbsolutePath(fromEnvironment))
        return fromEnvironment;
    const QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty() || !QDir::isAbsolutePath(home))
        return QString();
    return home + QLatin1String("/.config");
}

// Whether the [Desktop Entry] group exists and is not switched off.
bool entryIsActive(const QByteArray &contents) {
    bool inMainGroup = false;
    bool foundMainGroup = false;
    for (const QByteArray &rawLine : contents.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            foundMainGroup = foundMainGroup || inMainGroup;
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype equals = line.indexOf('=');
        if (equals < 0)
            continue;
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if ((key == "Hidden" && value == "true") || (key == "X-GNOME-Autostart-enabled" && value == "false"))
            return false;
    }
    return foundMainGroup;
}

// The entry file, or empty when there is no configuration folder to put it in.
QString entryPath() {
    const QString home = configHome();
    if (home.isEmpty())
        return QString();
    return home + QLatin1String("/autostart/quaystone.desktop");
}

// argument as one quoted argument of an Exec value, escaped for the file; empty when a
// desktop entry cannot carry it as a program path.
QString execArgument(const QString &argument) {
    // Desktop entries forbid "=" in the program path, and a string value
    // cannot carry control characters other than the escaped \n, \t and \r.
    for (QChar c : argument) {
        const bool escapableControl = c == u'\n' || c == u'\t' || c == u'\r';
        if (c == u'=' || ((c.unicode() < 0x20 || c.unicode() == 0x7f) && !escapableControl))
            return QString();
    }

    // First the Exec quoting: escape " ` $ \ inside double quotes and double every % (which
    // would start a field code)...
    QString quoted = QStringLiteral("\"");
    for (QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        else if (c == u'%')
            quoted += u'%';
        quoted += c;
    }
    quoted += u'"';

    // ...then the escapes of a string value, which readers undo before the quoting: so a
    // backslash in the path ends up as four in the file.
    QString escaped;
    for (QChar c : quoted) {
        if (c == u'\\')
            escaped += QLatin1String("\\\\");
        else if (c == u'\n')
            escaped += QLatin1String("\\n");
        else if (c == u'\t')
            escaped += QLatin1String("\\t");
        else if (c == u'\r')
            escaped += QLatin1String("\\r");
        else
            escaped += c;
    }
    return escaped;
}

} // namespace

XdgAutostartLaunchAtLoginController::XdgAutostartLaunchAtLoginController()
    : XdgAutostartLaunchAtLoginController(QCoreApplication::applicationFilePath()) {}

XdgAutostartLaunchAtLoginController::XdgAutostartLaunchAtLoginController(QString executablePath)
    : m_executablePath(std::move(executablePath)) {}

bool XdgAutostartLaunchAtLoginController::isEnabled() const {
    const QString path = entryPath();
    if (path.isEmpty())
        return false;
    // Only a regular file (or a link to one) is read: opening a FIFO would block.
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > largestEntryBytes)
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return entryIsActive(file.read(largestEntryBytes));
}

std::optional<LaunchAtLoginError> XdgAutostartLaunchAtLoginController::setEnabled(bool enabled) {
    const QString path = entryPath();
    if (path.isEmpty())
        return enabled ? LaunchAtLoginError::writeFailed : LaunchAtLoginError::removeFailed;

    if (!enabled) {
        QFile::remove(path);
        // exists() follows links; a dangling link is still an entry left behind.
        const QFileInfo info(path);
        if (info.exists() || info.isSymLink())
            return LaunchAtLoginError::removeFailed;
        return std::nullopt;
    }

    const QString exec = QDir::isAbsolutePath(m_executablePath) ? execArgument(m_executablePath) : QString();
    if (exec.isEmpty())
        return LaunchAtLoginError::writeFailed;
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return LaunchAtLoginError::writeFailed;
    // QSaveFile writes through a symbolic link into its target, which may be some other
    // program's file; replace the link itself instead.
    if (QFileInfo(path).isSymLink() && !QFile::remove(path))
        return LaunchAtLoginError::writeFailed;

    const QString entry = QLatin1String("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Quaystone\n"
                                        "Exec=") +
                          exec +
                          // Started at login, the app waits in the tray (or unseen) until asked.
                          QLatin1String(" --background\n"
                                        "Icon=quaystone\n"
                                        "Terminal=false\n"
                                        "X-GNOME-Autostart-enabled=true\n");
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return LaunchAtLoginError::writeFailed;
    const QByteArray bytes = entry.toUtf8();
    if (file.write(bytes) != bytes.size() || !file.commit())
        return LaunchAtLoginError::writeFailed;
    return std::nullopt;
}

} // namespace quaystone
