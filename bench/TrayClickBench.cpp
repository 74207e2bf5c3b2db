// How long a click on the tray icon takes to put the popup on screen: from the controller's
// click handler to the popup window exposed and painted, with the refresh that the click
// starts running after. The target is 50 ms. Headless by default; set QT_QPA_PLATFORM=xcb
// under an X server to include the window system's round trips.

#include "app/AppConfig.h"
#include "app/LaunchAtLoginControlling.h"
#include "app/MenuBarController.h"
#include "app/MenuPresenting.h"
#include "app/PopoverWindow.h"
#include "model/PortListing.h"
#include "model/PortStore.h"
#include "model/ProcessKilling.h"
#include "model/WorkingDirectoryResolving.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QWindow>
#include <benchmark/benchmark.h>

#include <functional>
#include <memory>

using namespace quaystone;

namespace {

// A dozen listeners, answered at once: the refresh after the click costs what the store and
// the views spend, not what lsof does.
class FixedListing : public PortListing {
public:
    QCoro::Task<PortListingResult> listPorts(PortRange) override {
        QList<PortEntry> entries;
        for (int i = 0; i < 12; ++i)
            entries.append(PortEntry(2000 + i, 3000 + 517 * i, QStringLiteral("node")));
        co_return entries;
    }
};

class FixedResolver : public WorkingDirectoryResolving {
public:
    QCoro::Task<ProcessDetails> resolve(qint32 pid) override {
        ProcessDetails details;
        details.workingDirectory = QStringLiteral("/home/dev/projects/service-%1").arg(pid);
        co_return details;
    }
};

class NoKiller : public ProcessKilling {
public:
    QCoro::Task<ProcessKillOutcome> kill(qint32, std::optional<quint64>) override {
        co_return ProcessKillOutcome::notRunning;
    }
};

class NoLaunchAtLogin : public LaunchAtLoginControlling {
public:
    bool isEnabled() const override { return false; }
    std::optional<LaunchAtLoginError> setEnabled(bool) override { return LaunchAtLoginError::writeFailed; }
};

class NoMenu : public MenuPresenting {
public:
    void install(MenuBarController &) override {}
    void setLaunchAtLoginChecked(bool) override {}
    void popUpAtCursor() override {}
    bool hasIcon() const override { return true; }
    void whenTrayKnown(std::function<void()> then) override { then(); }
};

struct FrontEnd {
    FrontEnd()
        : store(std::make_unique<FixedListing>(), std::make_unique<FixedResolver>(), std::make_unique<NoKiller>())
        , config(std::make_unique<NoLaunchAtLogin>()) {
        auto popoverOwned = std::make_unique<PopoverWindow>(store, [] {
            return PopupAnchor{QRect(900, 0, 24, 24), std::nullopt};
        });
        popover = popoverOwned.get();
        controller =
            std::make_unique<MenuBarController>(config, store, std::move(popoverOwned), std::make_unique<NoMenu>());
        controller->configure();
    }

    // Serves events until the popup is exposed and its first frame has been painted.
    void waitForPopupOnScreen() const {
        while (!popover->windowHandle() || !popover->windowHandle()->isExposed())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
        QCoreApplication::processEvents();
    }

    void settle() {
        while (store.isRefreshing())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
        QCoreApplication::processEvents();
    }

    PortStore store;
    AppConfig config;
    PopoverWindow *popover = nullptr;
    std::unique_ptr<MenuBarController> controller;
};

// Opens the popup. Each benchmark closes it with closePopover(), not with a second click: a
// click this soon after the opening one counts as the second half of a double click.
void click(MenuBarController &controller) {
    controller.handleStatusItemClick(TrayActivation::primary, Qt::NoModifier);
}

// The first click of the process: the popup's native window is created on the way.
void BM_FirstClickToPopupOnScreen(benchmark::State &state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto frontEnd = std::make_unique<FrontEnd>();
        state.ResumeTiming();
        click(*frontEnd->controller);
        frontEnd->waitForPopupOnScreen();
        state.PauseTiming();
        frontEnd->settle();
        frontEnd->controller->closePopover();
        frontEnd.reset();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}

// Any later click, with the list from the previous refresh already in the popup.
void BM_ClickToPopupOnScreen(benchmark::State &state) {
    FrontEnd frontEnd;
    for (auto _ : state) {
        click(*frontEnd.controller);
        frontEnd.waitForPopupOnScreen();
        state.PauseTiming();
        frontEnd.settle();
        frontEnd.controller->closePopover();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}

// From the click until the refresh it started has been rendered: what the user waits for
// the fresh list, lsof aside.
void BM_ClickToRefreshedList(benchmark::State &state) {
    FrontEnd frontEnd;
    for (auto _ : state) {
        click(*frontEnd.controller);
        frontEnd.waitForPopupOnScreen();
        frontEnd.settle();
        state.PauseTiming();
        frontEnd.controller->closePopover();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}

} // namespace

BENCHMARK(BM_FirstClickToPopupOnScreen)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ClickToPopupOnScreen)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ClickToRefreshedList)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
