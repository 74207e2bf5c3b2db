// libFuzzer target: arbitrary bytes, decoded as lsof's output is, must parse into a valid listing, and
// the ASCII reading (whenever it applies) and the mixed reading must agree exactly with the general one.
#include "discovery/LsofParser.h"

#include <QSet>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace quaystone;

namespace {

bool sameFields(const QList<PortEntry> &a, const QList<PortEntry> &b) {
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        // Exact code units: PortEntry's own equality accepts canonically equivalent names.
        if (a[i].id() != b[i].id() || a[i].processName() != b[i].processName())
            return false;
    }
    return true;
}

void checkListing(const QList<PortEntry> &entries) {
    QSet<PortEntryID> ids;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const PortEntry &e = entries[i];
        if (e.id() != PortEntryID{e.pid(), e.port()} || e.workingDirectory() || e.processName().isEmpty())
            std::abort();
        if (ids.contains(e.id()))
            std::abort();
        ids.insert(e.id());
        if (i > 0) {
            const PortEntry &previous = entries[i - 1];
            const bool ordered =
                previous.port() < e.port() || (previous.port() == e.port() && previous.pid() < e.pid());
            if (!ordered)
                std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const LsofParser parser;

    const QList<PortEntry> general = parser.parseGeneral(text);
    checkListing(general);
    if (LsofParser::isAscii(text) && !sameFields(parser.parseAscii(text), general))
        std::abort();
    if (!sameFields(parser.parseMixed(text), general))
        std::abort();
    if (!sameFields(parser.parse(text), general))
        std::abort();
    return 0;
}
