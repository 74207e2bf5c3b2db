// How long the popover takes to show a store change: from the store's assignment to the
// updated widget tree (optionally painted), with 5,000 listeners. The target is one frame,
// 16 ms.

#include "model/PortListing.h"
#include "model/PortStore.h"
#include "model/ProcessKilling.h"
#include "model/WorkingDirectoryResolving.h"
#include "views/PopoverRootView.h"
#include "views/PortListView.h"
#include "views/PortRowView.h"

#include <QApplication>
#include <QScrollBar>
#include <benchmark/benchmark.h>

#include <memory>

using namespace quaystone;

namespace {

QList<PortEntry> listeners(int count, const QString &name) {
    QList<PortEntry> entries;
    entries.reserve(count);
    for (int i = 0; i < count; ++i) {
        std::optional<QString> directory;
        if (i % 3 != 0)
            directory = QStringLiteral("/home/dev/projects/service-%1/build/debug").arg(i);
        entries.append(PortEntry(1000 + i, 3000 + i, name, directory));
    }
    return entries;
}

// Showing the view refreshes an idle store once: this listing fails at once, which leaves
// the seeded entries in place. Nothing else of the store's services is called.
class FailingListing : public PortListing {
public:
    QCoro::Task<PortListingResult> listPorts(PortRange) override { co_return ListingError{}; }
};

std::unique_ptr<PortStore> makeStore() {
    return std::make_unique<PortStore>(std::make_unique<FailingListing>(), nullptr, nullptr);
}

// One store change and the event that renders it, alternating between two lists so each
// render sees new entries.
void renderChanges(benchmark::State &state, bool paint) {
    const int count = int(state.range(0));
    const QList<PortEntry> lists[] = {listeners(count, QStringLiteral("node")),
                                      listeners(count, QStringLiteral("python3"))};
    auto store = makeStore();
    PopoverRootView view(*store);
    view.show();
    QCoreApplication::processEvents();

    int turn = 0;
    for (auto _ : state) {
        store->seedEntries(lists[turn++ % 2]);
        QCoreApplication::processEvents();
        if (paint)
            view.repaint();
    }
    if (view.findChildren<PortRowView *>().isEmpty())
        state.SkipWithError("no row was built");
    state.counters["rowsBuilt"] = double(view.findChildren<PortRowView *>().size());
}

void BM_RenderStoreChange(benchmark::State &state) {
    renderChanges(state, false);
}

void BM_RenderAndPaintStoreChange(benchmark::State &state) {
    renderChanges(state, true);
}

// A selection change, the most frequent change while the popover is open (arrow keys).
void BM_RenderSelectionChange(benchmark::State &state) {
    const QList<PortEntry> entries = listeners(int(state.range(0)), QStringLiteral("node"));
    auto store = makeStore();
    store->seedEntries(entries);
    PopoverRootView view(*store);
    view.show();
    QCoreApplication::processEvents();

    int turn = 0;
    for (auto _ : state) {
        store->setSelectedEntryID(entries[turn++ % 8].id());
        QCoreApplication::processEvents();
    }
}

// Scrolling by one page: the rows leaving the viewport go, the rows entering it are built.
void BM_ScrollOnePage(benchmark::State &state) {
    auto store = makeStore();
    store->seedEntries(listeners(int(state.range(0)), QStringLiteral("node")));
    PopoverRootView view(*store);
    view.show();
    QCoreApplication::processEvents();
    QScrollBar *bar = view.findChild<PortListView *>()->verticalScrollBar();

    for (auto _ : state) {
        const int next = bar->value() + bar->pageStep();
        bar->setValue(next > bar->maximum() ? 0 : next);
    }
}

BENCHMARK(BM_RenderStoreChange)->Arg(5000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderAndPaintStoreChange)->Arg(5000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RenderSelectionChange)->Arg(5000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScrollOnePage)->Arg(5000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
