// Parsing generated lsof listings: both readings of the parser, on plain ASCII text and on text with
// one non-ASCII command name (which sends parse() down the general reading).
#include "discovery/LsofParser.h"

#include <benchmark/benchmark.h>

using namespace quaystone;

namespace {

// `lines` lines after the header: mostly IPv4/IPv6 twins of listening sockets, some connections in
// other TCP states and a few lines that are not socket lines at all.
QString listing(int lines, bool withNonAsciiName) {
    QString text = QStringLiteral("COMMAND     PID USER   FD   TYPE   DEVICE SIZE/OFF NODE NAME\n");
    text.reserve(lines * 80);
    for (int i = 0; i < lines; ++i) {
        const int pid = 1000 + i / 4;
        const int port = 1024 + (i / 2) % 60000;
        const QString name = withNonAsciiName && i == lines / 2 ? QStringLiteral("caf\u00e9") : QStringLiteral("node");
        switch (i % 10) {
        case 8:
            text += QStringLiteral("%1 %2 dev 31u IPv4 0x%3 0t0 TCP 127.0.0.1:%4->127.0.0.1:51234 (ESTABLISHED)\n")
                        .arg(name)
                        .arg(pid)
                        .arg(i, 0, 16)
                        .arg(port);
            break;
        case 9:
            text += i % 50 == 9 ? QStringLiteral("lsof: no pwd entry for UID 1001\n")
                                : QStringLiteral("%1 %2 dev 32u IPv6 0x%3 0t0 TCP [::1]:%4->[::1]:40000 (CLOSE_WAIT)\n")
                                      .arg(name)
                                      .arg(pid)
                                      .arg(i, 0, 16)
                                      .arg(port);
            break;
        default:
            text += i % 2 == 0 ? QStringLiteral("%1 %2 dev 23u IPv4 0x%3 0t0 TCP *:%4 (LISTEN)\n")
                                     .arg(name)
                                     .arg(pid)
                                     .arg(i, 0, 16)
                                     .arg(port)
                               : QStringLiteral("%1 %2 dev 24u IPv6 0x%3 0t0 TCP [::1]:%4 (LISTEN)\n")
                                     .arg(name)
                                     .arg(pid)
                                     .arg(i, 0, 16)
                                     .arg(port);
        }
    }
    return text;
}

template <typename Parse>
void runParse(benchmark::State &state, bool withNonAsciiName, Parse parse) {
    const QString text = listing(static_cast<int>(state.range(0)), withNonAsciiName);
    const LsofParser parser;
    qsizetype entries = 0;
    for (auto _ : state) {
        const QList<PortEntry> result = parse(parser, text);
        entries = result.size();
        benchmark::DoNotOptimize(result.constData());
    }
    state.counters["entries"] = static_cast<double>(entries);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_ParseAscii(benchmark::State &state) {
    runParse(state, false, [](const LsofParser &p, const QString &t) { return p.parseAscii(t); });
}

void BM_ParseGeneral(benchmark::State &state) {
    runParse(state, false, [](const LsofParser &p, const QString &t) { return p.parseGeneral(t); });
}

void BM_ParseDispatchAscii(benchmark::State &state) {
    runParse(state, false, [](const LsofParser &p, const QString &t) { return p.parse(t); });
}

void BM_ParseDispatchNonAscii(benchmark::State &state) {
    runParse(state, true, [](const LsofParser &p, const QString &t) { return p.parse(t); });
}

} // namespace

BENCHMARK(BM_ParseAscii)->Arg(5000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseGeneral)->Arg(5000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseDispatchAscii)->Arg(5000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseDispatchNonAscii)->Arg(5000)->Arg(100000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
