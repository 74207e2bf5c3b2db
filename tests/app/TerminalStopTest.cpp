#include "app/TerminalStop.h"
#include "support/StoreFakes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using namespace quaystone;
using namespace quaystone::test;

namespace {

std::string contents(std::FILE *file) {
    std::rewind(file);
    std::string text;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file))
        text += static_cast<char>(c);
    return text;
}

TEST(TerminalStop, EachOutcomeHasItsStatusAndItsMessageOnTheRightStream) {
    using O = AdministratorStopOutcome;
    const struct {
        O outcome;
        int status;
        const char *out;
        const char *err;
    } cases[] = {
        {O::stopped, terminalstop::stopped, "Stopped the processes listening on port 5000.\n", ""},
        {O::noListener, terminalstop::noListener, "", "Nothing listens on port 5000.\n"},
        {O::cancelled, terminalstop::cancelled, "", "Authentication was cancelled; nothing was stopped.\n"},
        {O::notAuthorized, terminalstop::notAuthorized, "",
         "Not authorized to stop the processes listening on port 5000.\n"},
        {O::unavailable, terminalstop::unavailable, "",
         "Stopping as administrator is unavailable (is pkexec installed, and the app's helper?).\n"},
        {O::failed, terminalstop::failed, "", "Could not stop every process listening on port 5000.\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(static_cast<int>(c.outcome));
        FakeAdministratorStopper stopper;
        stopper.held = false;
        stopper.outcome = c.outcome;
        std::FILE *out = std::tmpfile();
        std::FILE *err = std::tmpfile();
        EXPECT_EQ(awaitTask(terminalstop::run(QStringLiteral("5000"), stopper, out, err)), c.status);
        EXPECT_EQ(stopper.ports, QList<qint64>{5000});
        EXPECT_EQ(contents(out), c.out);
        EXPECT_EQ(contents(err), c.err);
        std::fclose(out);
        std::fclose(err);
    }
}

TEST(TerminalStop, AnythingButAPlainPortInRangeIsAUsageErrorThatStopsNothing) {
    for (const char *argument : {"", "2999", "10000", "+5000", " 5000", "05000", "5000x", "٥٠٠٠"}) {
        SCOPED_TRACE(argument);
        FakeAdministratorStopper stopper;
        std::FILE *out = std::tmpfile();
        std::FILE *err = std::tmpfile();
        EXPECT_EQ(awaitTask(terminalstop::run(QString::fromUtf8(argument), stopper, out, err)), terminalstop::usage);
        EXPECT_TRUE(stopper.ports.isEmpty());
        EXPECT_EQ(contents(out), "");
        EXPECT_NE(contents(err).find("usage: quaystone --stop PORT"), std::string::npos);
        std::fclose(out);
        std::fclose(err);
    }
}

} // namespace
