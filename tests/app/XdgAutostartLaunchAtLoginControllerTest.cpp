#include "app/XdgAutostartLaunchAtLoginController.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace quaystone;

namespace {

// Points XDG_CONFIG_HOME (and HOME) at a fresh folder for one test.
class AutostartTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_root.isValid());
        m_savedConfigHome = qgetenv("XDG_CONFIG_HOME");
        m_savedHome = qgetenv("HOME");
        qputenv("XDG_CONFIG_HOME", configHome().toLocal8Bit());
        qputenv("HOME", m_root.filePath(QStringLiteral("home")).toLocal8Bit());
    }
    void TearDown() override {
        qputenv("XDG_CONFIG_HOME", m_savedConfigHome);
        qputenv("HOME", m_savedHome);
    }

    QString configHome() const { return m_root.filePath(QStringLiteral("config")); }
    QString entryPath() const { return configHome() + QStringLiteral("/autostart/quaystone.desktop"); }

    void writeEntry(const QByteArray &contents) const {
        QDir().mkpath(configHome() + QStringLiteral("/autostart"));
        QFile file(entryPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }

    QByteArray readEntry() const {
        QFile file(entryPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QTemporaryDir m_root;
    QByteArray m_savedConfigHome;
    QByteArray m_savedHome;
};

// Reads an Exec value holding one quoted argument back the way a desktop reads it: first the
// string escapes, then the quoting, then %% as a literal %.
std::optional<QString> programOfExec(const QString &value) {
    QString unescaped;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != u'\\') {
            unescaped += value[i];
            continue;
        }
        if (++i == value.size())
            return std::nullopt;
        const QChar c = value[i];
        unescaped += c == u's' ? u' ' : c == u'n' ? u'\n' : c == u't' ? u'\t' : c == u'r' ? u'\r' : c;
        if (c != u's' && c != u'n' && c != u't' && c != u'r' && c != u'\\')
            return std::nullopt;
    }
    if (unescaped.size() < 2 || !unescaped.startsWith(u'"') || !unescaped.endsWith(u'"'))
        return std::nullopt;
    QString program;
    for (qsizetype i = 1; i + 1 < unescaped.size(); ++i) {
        QChar c = unescaped[i];
        if (c == u'\\') {
            c = unescaped[++i];
            if (c != u'"' && c != u'`' && c != u'$' && c != u'\\')
                return std::nullopt;
        } else if (c == u'"' || c == u'`' || c == u'$') {
            return std::nullopt; // must have been escaped
        } else if (c == u'%') {
            if (unescaped[++i] != u'%')
                return std::nullopt; // a field code
        }
        program += c;
    }
    return program;
}

QString execValue(const QByteArray &entry) {
    const QRegularExpression line(QStringLiteral("^Exec=(.*)$"), QRegularExpression::MultilineOption);
    return line.match(QString::fromUtf8(entry)).captured(1);
}

} // namespace

TEST_F(AutostartTest, EnablingWritesAnEntryThatDisablingRemoves) {
    XdgAutostartLaunchAtLoginController controller(QStringLiteral("/opt/quaystone/bin/quaystone"));
    EXPECT_FALSE(controller.isEnabled());
    EXPECT_EQ(controller.setEnabled(false), std::nullopt); // nothing to remove is fine

    EXPECT_EQ(controller.setEnabled(true), std::nullopt);
    EXPECT_TRUE(controller.isEnabled());
    const QByteArray entry = readEntry();
    EXPECT_TRUE(entry.startsWith("[Desktop Entry]\n"));
    for (const char *line : {"Type=Application\n", "Name=Quaystone\n", "Icon=quaystone\n", "Terminal=false\n",
                             "Exec=\"/opt/quaystone/bin/quaystone\"\n"})
        EXPECT_TRUE(entry.contains(line)) << line;

    EXPECT_EQ(controller.setEnabled(true), std::nullopt); // again, over the existing entry
    EXPECT_TRUE(controller.isEnabled());

    EXPECT_EQ(controller.setEnabled(false), std::nullopt);
    EXPECT_FALSE(QFile::exists(entryPath()));
    EXPECT_FALSE(controller.isEnabled());
}

TEST_F(AutostartTest, TheExecLineReadsBackAsTheExactProgramPath) {
    const QString paths[] = {
        QStringLiteral("/opt/my apps/quaystone"),          QStringLiteral("/opt/\"quoted\"/it's/quaystone"),
        QStringLiteral("/opt/$HOME/`id`/quaystone"),       QStringLiteral("/opt/back\\slash\\\\double/quaystone"),
        QStringLiteral("/opt/100%/%u/quaystone"),          QStringLiteral("/opt/tab\tnew\nline/quaystone"),
        QStringLiteral("/opt/caf\u00e9 \u6587/quaystone"), QStringLiteral("/opt/a;b|c&d<e>f~*?#()/quaystone"),
    };
    for (const QString &path : paths) {
        SCOPED_TRACE(path.toStdString());
        XdgAutostartLaunchAtLoginController controller(path);
        ASSERT_EQ(controller.setEnabled(true), std::nullopt);
        const QByteArray entry = readEntry();
        EXPECT_EQ(entry.count('\n'), 7) << "the Exec value must stay on one line";
        EXPECT_EQ(programOfExec(execValue(entry)), path);
        EXPECT_TRUE(controller.isEnabled());
    }

    // A literal backslash takes four in the file.
    XdgAutostartLaunchAtLoginController controller(QStringLiteral("/a\\b"));
    ASSERT_EQ(controller.setEnabled(true), std::nullopt);
    EXPECT_EQ(execValue(readEntry()), QStringLiteral("\"/a\\\\\\\\b\""));
}

TEST_F(AutostartTest, PathsTheFormatCannotCarryAreRefused) {
    for (const QString &path : {QString(), QStringLiteral("relative/quaystone"), QStringLiteral("/opt/a=b/quaystone"),
                                QStringLiteral("/opt/bell\a/quaystone")}) {
        SCOPED_TRACE(path.toStdString());
        XdgAutostartLaunchAtLoginController controller(path);
        EXPECT_EQ(controller.setEnabled(true), LaunchAtLoginError::writeFailed);
        EXPECT_FALSE(QFile::exists(entryPath()));
        EXPECT_FALSE(controller.isEnabled());
    }
}

TEST_F(AutostartTest, AnEntryThatCannotBeWrittenIsAnError) {
    // A file where the autostart folder should be: mkdir fails even for root.
    QFile blocker(configHome() + QStringLiteral("/autostart"));
    QDir().mkpath(configHome());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    XdgAutostartLaunchAtLoginController controller(QStringLiteral("/usr/bin/quaystone"));
    EXPECT_EQ(controller.setEnabled(true), LaunchAtLoginError::writeFailed);
    EXPECT_FALSE(controller.isEnabled());
}

TEST_F(AutostartTest, AnEntryThatCannotBeRemovedIsAnError) {
    // A non-empty folder in the entry's place survives the removal.
    QDir().mkpath(entryPath() + QStringLiteral("/inside"));
    XdgAutostartLaunchAtLoginController controller(QStringLiteral("/usr/bin/quaystone"));
    EXPECT_EQ(controller.setEnabled(false), LaunchAtLoginError::removeFailed);
    EXPECT_FALSE(controller.isEnabled());
}

TEST_F(AutostartTest, EntriesTheSessionWouldNotStartReadAsOff) {
    struct Case {
        const char *contents;
        bool enabled;
    };
    const Case cases[] = {
        {"[Desktop Entry]\nType=Application\nExec=quaystone\n", true},
        {"# comment\n\n[Desktop Entry]\nExec=quaystone\nHidden=false\nX-GNOME-Autostart-enabled=true\n", true},
        {"[Desktop Entry]\nExec=quaystone\nHidden=true\n", false},
        {"[Desktop Entry]\nExec=quaystone\nHidden = true\n", false},
        {"[Desktop Entry]\nExec=quaystone\nX-GNOME-Autostart-enabled=false\n", false},
        {"[Desktop Entry]\nExec=quaystone\n[Desktop Action x]\nHidden=true\n", true},
        {"[Desktop Action x]\nExec=quaystone\n", false},
        {"Exec=quaystone\n", false},
        {"", false},
    };
    XdgAutostartLaunchAtLoginController controller(QStringLiteral("/usr/bin/quaystone"));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.contents);
        writeEntry(c.contents);
        EXPECT_EQ(controller.isEnabled(), c.enabled);
    }
}

TEST_F(AutostartTest, AnEmptyOrRelativeConfigHomeFallsBackToHome) {
    const QString underHome = qEnvironmentVariable("HOME") + QStringLiteral("/.config/autostart/quaystone.desktop");
    XdgAutostartLaunchAtLoginController controller(QStringLiteral("/usr/bin/quaystone"));
    for (const char *configHomeValue : {"", "relative/config"}) {
        SCOPED_TRACE(configHomeValue);
        qputenv("XDG_CONFIG_HOME", configHomeValue);
        ASSERT_EQ(controller.setEnabled(true), std::nullopt);
        EXPECT_TRUE(QFile::exists(underHome));
        EXPECT_FALSE(QFile::exists(entryPath()));
        EXPECT_EQ(controller.setEnabled(false), std::nullopt);
        EXPECT_FALSE(QFile::exists(underHome));
    }
}
