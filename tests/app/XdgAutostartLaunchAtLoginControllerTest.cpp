#include "app/XdgAutostartLaunchAtLoginController.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace quaystone;

namespace {

// Points XDG_CONFIG_HOME and HOME into a fresh folder; every test of this program sets both.
class Autostart : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_root.isValid());
        qputenv("XDG_CONFIG_HOME", m_root.path().toLocal8Bit());
        qputenv("HOME", m_root.filePath(QStringLiteral("home")).toLocal8Bit());
    }
    QString autostartDir() const { return m_root.filePath(QStringLiteral("autostart")); }
    QString entryPath() const { return autostartDir() + QStringLiteral("/quaystone.desktop"); }

private:
    QTemporaryDir m_root;
};

// Reads the program of the entry's Exec line back as a desktop does: first the string escapes,
// then the quoting of the program (followed by --background), %% being a literal %. Anything read
// otherwise gives none.
std::optional<QString> programOfExec(const QString &entryPath) {
    QFile file(entryPath);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    static const QRegularExpression line(QStringLiteral("^Exec=\"(.*)\" --background$"),
                                         QRegularExpression::MultilineOption);
    const QString value = line.match(QString::fromUtf8(file.readAll())).captured(1);
    const QHash<QChar, QChar> stringEscapes{{u's', u' '}, {u'n', u'\n'}, {u't', u'\t'}, {u'r', u'\r'}, {u'\\', u'\\'}};
    QString quoted;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != u'\\')
            quoted += value[i];
        else if (++i < value.size() && stringEscapes.contains(value[i]))
            quoted += stringEscapes[value[i]];
        else
            return std::nullopt;
    }
    const QString special = QStringLiteral("\"`$\\");
    QString program;
    for (qsizetype i = 0; i < quoted.size(); ++i) {
        QChar c = quoted[i];
        if (c == u'\\' && i + 1 < quoted.size() && special.contains(quoted[i + 1]))
            c = quoted[++i];
        else if (special.contains(c) || (c == u'%' && (++i == quoted.size() || quoted[i] != u'%')))
            return std::nullopt; // unescaped, or a field code
        program += c;
    }
    return program;
}

} // namespace

TEST_F(Autostart, EnablingWritesAnEntryThatDisablingRemoves) {
    XdgAutostartLaunchAtLoginController controller(QStringLiteral("/opt/quaystone/bin/quaystone"));
    EXPECT_EQ(controller.setEnabled(false), std::nullopt); // nothing to remove is fine
    for (const bool enabled : {true, true, false}) {       // the second time over the existing entry
        EXPECT_EQ(controller.setEnabled(enabled), std::nullopt);
        EXPECT_EQ(controller.isEnabled(), enabled);
        EXPECT_EQ(QFile::exists(entryPath()), enabled);
    }
}

TEST_F(Autostart, TheExecLineReadsBackAsTheExactProgramPath) {
    for (const char *path : {"/opt/my apps/\"quoted\"/it's/quaystone", "/opt/$HOME/`id`/100%/%u/quaystone",
                             "/opt/back\\slash\\\\double/quaystone", "/opt/tab\tnew\nline/caf\u00e9;|&<>/quaystone"}) {
        SCOPED_TRACE(path);
        XdgAutostartLaunchAtLoginController controller(QString::fromUtf8(path));
        ASSERT_EQ(controller.setEnabled(true), std::nullopt);
        EXPECT_EQ(programOfExec(entryPath()), QString::fromUtf8(path));
        EXPECT_TRUE(controller.isEnabled());
    }
}

TEST_F(Autostart, WhatCannotBeWrittenOrRemovedIsAnErrorAndReadsBackOff) {
    for (const char *path : {"", "relative/quaystone", "/opt/a=b/quaystone", "/opt/bell\a/quaystone"}) {
        SCOPED_TRACE(path); // paths an entry cannot carry
        XdgAutostartLaunchAtLoginController controller(QString::fromUtf8(path));
        EXPECT_EQ(controller.setEnabled(true), LaunchAtLoginError::writeFailed);
        EXPECT_FALSE(controller.isEnabled());
    }
    XdgAutostartLaunchAtLoginController controller(QStringLiteral("/usr/bin/quaystone"));
    QFile blocker(autostartDir()); // a file where the folder should be: mkdir fails even for root
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_EQ(controller.setEnabled(true), LaunchAtLoginError::writeFailed);
    EXPECT_FALSE(controller.isEnabled());
    // A non-empty folder in the entry's place survives the removal.
    blocker.remove();
    QDir().mkpath(entryPath() + QStringLiteral("/inside"));
    EXPECT_EQ(controller.setEnabled(false), LaunchAtLoginError::removeFailed);
    EXPECT_FALSE(controller.isEnabled());
}

TEST_F(Autostart, EntriesTheSessionWouldNotStartReadAsOff) {
    const struct {
        const char *contents;
        bool enabled;
    } cases[] = {
        {"# comment\n\n[Desktop Entry]\nExec=quaystone\nHidden=false\nX-GNOME-Autostart-enabled=true\n", true},
        {"[Desktop Entry]\nExec=quaystone\nHidden = true\n", false},
        {"[Desktop Entry]\nExec=quaystone\nX-GNOME-Autostart-enabled=false\n", false},
        {"[Desktop Entry]\nExec=quaystone\n[Desktop Action x]\nHidden=true\n", true},
        {"[Desktop Action x]\nExec=quaystone\n", false},
    };
    QDir().mkpath(autostartDir());
    XdgAutostartLaunchAtLoginController controller(QStringLiteral("/usr/bin/quaystone"));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.contents);
        QFile file(entryPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(c.contents);
        file.close();
        EXPECT_EQ(controller.isEnabled(), c.enabled);
    }
}

TEST_F(Autostart, AnEmptyOrRelativeConfigHomeFallsBackToHome) {
    XdgAutostartLaunchAtLoginController controller(QStringLiteral("/usr/bin/quaystone"));
    for (const char *configHome : {"", "relative/config"}) {
        qputenv("XDG_CONFIG_HOME", configHome);
        ASSERT_EQ(controller.setEnabled(true), std::nullopt);
        EXPECT_TRUE(QFile::exists(qEnvironmentVariable("HOME") + "/.config/autostart/quaystone.desktop"));
        EXPECT_EQ(controller.setEnabled(false), std::nullopt);
    }
}
