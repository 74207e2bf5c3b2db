#include "LsofParser.h"

#include <QHash>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

namespace quaystone {

namespace {

// A field of a line, as code-unit offsets into the whole text.
struct Span {
    qsizetype begin = 0;
    qsizetype end = 0;
};

// What the line rule reads of a line: how many fields it has, and fields 1 (command), 2 (pid),
// 9 (address) and the last one (state).
struct LineFields {
    qsizetype count = 0;
    Span command;
    Span pid;
    Span address;
    Span last;

    void add(Span field) {
        ++count;
        if (count == 1)
            command = field;
        else if (count == 2)
            pid = field;
        else if (count == 9)
            address = field;
        last = field;
    }
};

bool isNewline(char32_t c) {
    switch (c) {
    case 0x000A:
    case 0x000B:
    case 0x000C:
    case 0x000D:
    case 0x0085:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

// The ASCII members of Unicode's White_Space: tab, LF, VT, FF, CR and space.
bool isAsciiWhiteSpace(char16_t c) {
    return c == u' ' || (c >= 0x09 && c <= 0x0D);
}

// An optional single sign, then one or more ASCII digits, in range of Int; nothing else.
template <typename Int>
std::optional<Int> parseDecimal(QStringView text) {
    qsizetype i = 0;
    bool negative = false;
    if (!text.isEmpty() && (text[0] == u'+' || text[0] == u'-')) {
        negative = text[0] == u'-';
        i = 1;
    }
    if (i == text.size())
        return std::nullopt;
    // Accumulating towards the sign lets the most negative value through without overflow.
    Int value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const Int digit = c - u'0';
        if (negative) {
            if (value < (std::numeric_limits<Int>::min() + digit) / 10)
                return std::nullopt;
            value = value * 10 - digit;
        } else {
            if (value > (std::numeric_limits<Int>::max() - digit) / 10)
                return std::nullopt;
            value = value * 10 + digit;
        }
    }
    return value;
}

// A socket line that passed the line rule; the name stays a span until the entry survives de-duplication.
struct Found {
    PortEntryID id;
    Span command;
};

// The line rule. wholeCharacter(i) tells whether the code unit at i is a character on its own: a colon
// or a parenthesis that a grapheme cluster joins to its neighbour is not that character. The numeric
// checks need no such test, since a field of ASCII signs and digits can hold no multi-unit cluster.
template <typename WholeCharacter>
std::optional<Found> readLine(QStringView text, const LineFields &fields, const WholeCharacter &wholeCharacter) {
    if (fields.count < 9)
        return std::nullopt;
    const auto view = [text](Span s) { return text.sliced(s.begin, s.end - s.begin); };

    const std::optional<qint32> pid = parseDecimal<qint32>(view(fields.pid));
    if (!pid)
        return std::nullopt;

    constexpr QStringView listen = u"(LISTEN)";
    if (!view(fields.last).endsWith(listen))
        return std::nullopt;
    for (qsizetype i = fields.last.end - listen.size(); i < fields.last.end; ++i) {
        if (!wholeCharacter(i))
            return std::nullopt;
    }

    qsizetype colon = fields.address.end - 1;
    while (colon >= fields.address.begin && !(text[colon] == u':' && wholeCharacter(colon)))
        --colon;
    if (colon < fields.address.begin)
        return std::nullopt;
    const std::optional<qint64> port = parseDecimal<qint64>(view({colon + 1, fields.address.end}));
    if (!port)
        return std::nullopt;

    return Found{{*pid, *port}, fields.command};
}

// Drops the header line, applies the line rule to every other line and keeps the latest line per id.
class EntryCollector {
public:
    explicit EntryCollector(QStringView text)
        : m_text(text) {
        // About one entry for every two lines of lsof's usual 80 to 100 characters: saves rehashing.
        m_positions.reserve(text.size() / 160);
    }

    template <typename WholeCharacter>
    void addLine(const LineFields &fields, const WholeCharacter &wholeCharacter) {
        if (!m_headerSkipped) {
            m_headerSkipped = true;
            return;
        }
        const std::optional<Found> found = readLine(m_text, fields, wholeCharacter);
        if (!found)
            return;
        // One lookup per line: 0 means "not seen yet", otherwise the position in m_found plus one.
        qsizetype &slot = m_positions[found->id];
        if (slot == 0) {
            m_found.push_back(*found);
            slot = static_cast<qsizetype>(m_found.size());
        } else {
            m_found[static_cast<size_t>(slot - 1)] = *found;
        }
    }

    QList<PortEntry> takeSorted() {
        // The order of displayOrderLess, on the ids alone.
        std::sort(m_found.begin(), m_found.end(), [](const Found &a, const Found &b) {
            return a.id.port != b.id.port ? a.id.port < b.id.port : a.id.pid < b.id.pid;
        });
        QList<PortEntry> entries;
        entries.reserve(static_cast<qsizetype>(m_found.size()));
        for (const Found &f : m_found)
            entries.append(PortEntry(f.id.pid, f.id.port,
                                     m_text.sliced(f.command.begin, f.command.end - f.command.begin).toString()));
        return entries;
    }

private:
    QStringView m_text;
    bool m_headerSkipped = false;
    QHash<PortEntryID, qsizetype> m_positions;
    std::vector<Found> m_found;
};

char32_t firstCodePoint(QStringView text, qsizetype begin, qsizetype end) {
    const QChar c = text[begin];
    if (c.isHighSurrogate() && begin + 1 < end && text[begin + 1].isLowSurrogate())
        return QChar::surrogateToUcs4(c, text[begin + 1]);
    return c.unicode();
}

// Gathers the fields of the line being read and hands each finished line to the collector.
class LineReader {
public:
    explicit LineReader(QStringView text)
        : m_collector(text) {}

    void field(Span span) {
        m_fields.add(span);
        m_started = true;
    }

    void blank() { m_started = true; }

    template <typename WholeCharacter>
    void endLine(const WholeCharacter &wholeCharacter) {
        if (m_started) {
            m_collector.addLine(m_fields, wholeCharacter);
            m_fields = {};
            m_started = false;
        }
    }

    QList<PortEntry> finish() { return m_collector.takeSorted(); }

private:
    EntryCollector m_collector;
    LineFields m_fields;
    bool m_started = false;
};

// Reads [from, to) of ASCII text unit by unit: there every character is one code unit (CR LF aside,
// and the empty line between CR and LF is dropped anyway). The end of the range ends a line.
void scanAscii(QStringView text, qsizetype from, qsizetype to, LineReader &reader) {
    const auto wholeCharacter = [](qsizetype) { return true; };
    const char16_t *units = text.utf16();
    for (qsizetype i = from; i < to;) {
        const char16_t c = units[i];
        if (isAsciiWhiteSpace(c)) {
            if (c >= 0x0A && c <= 0x0D)
                reader.endLine(wholeCharacter);
            else
                reader.blank();
            ++i;
            continue;
        }
        const qsizetype begin = i;
        // Almost every unit of a field is above the space; the controls below it are rare.
        while (i < to && (units[i] > u' ' || !isAsciiWhiteSpace(units[i])))
            ++i;
        reader.field({begin, i});
    }
    reader.endLine(wholeCharacter);
}

// Reads [from, to) as grapheme clusters. A cluster is a newline or whitespace by its first code point,
// and a whitespace cluster separates fields as a whole, any marks joined to it included. The end of
// the range ends a line.
void scanClusters(QStringView text, qsizetype from, qsizetype to, LineReader &reader) {
    // boundary[i - from]: a cluster starts at code unit i, or the range ends there.
    const qsizetype size = to - from;
    std::vector<char> boundary(static_cast<size_t>(size + 1), 0);
    boundary[0] = 1;
    boundary[size] = 1;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.constData() + from, size);
    for (qsizetype p = finder.toNextBoundary(); p != -1; p = finder.toNextBoundary())
        boundary[p] = 1;
    const auto isBoundary = [&boundary, from](qsizetype i) { return boundary[i - from] != 0; };
    const auto wholeCharacter = [&](qsizetype i) { return isBoundary(i) && isBoundary(i + 1); };

    qsizetype fieldBegin = -1;
    const auto endField = [&](qsizetype at) {
        if (fieldBegin >= 0) {
            reader.field({fieldBegin, at});
            fieldBegin = -1;
        }
    };
    for (qsizetype begin = from; begin < to;) {
        qsizetype end = begin + 1;
        while (!isBoundary(end))
            ++end;
        const char32_t first = firstCodePoint(text, begin, end);
        if (isNewline(first)) {
            endField(begin);
            reader.endLine(wholeCharacter);
        } else if (QChar::isSpace(first)) {
            endField(begin);
            reader.blank();
        } else if (fieldBegin < 0) {
            fieldBegin = begin;
        }
        begin = end;
    }
    endField(to);
    reader.endLine(wholeCharacter);
}

bool isAsciiLetter(char16_t c) {
    const char16_t lower = c | 0x20;
    return lower >= u'a' && lower <= u'z';
}

// A stretch that is segmented on its own, with its cluster starts: boundary[i - begin] for begin <= i <= end.
struct Window {
    qsizetype begin = 0;
    qsizetype end = 0;
    std::vector<char> boundary;
};

// The stretches around the non-ASCII units, each segmented on its own, with the same clusters as the
// whole text gets. A window starts at an ASCII letter (or the start of the text) and ends after one (or at
// the end of the text), and no non-ASCII unit lies next to its edges. That makes it safe: past an ASCII
// unit the segmentation keeps no state, a letter starts or continues a Latin script run, the script runs
// that Qt tailors clusters by start at the same places inside the window as in the whole text, and Latin
// runs are not tailored. Outside the windows every unit is a cluster of its own, CR LF aside, which
// reads the same as two newlines.
std::vector<Window> windowsAroundNonAscii(QStringView text) {
    const char16_t *units = text.utf16();
    const qsizetype size = text.size();
    std::vector<Window> windows;
    for (qsizetype i = 0; i < size; ++i) {
        if (units[i] < 0x80)
            continue;
        // Back to the letter before; without one since the previous window, that window reaches on.
        const qsizetype floor = windows.empty() ? 0 : windows.back().end;
        qsizetype begin = i - 1;
        while (begin >= floor && !isAsciiLetter(units[begin]))
            --begin;
        if (begin < floor) {
            begin = windows.empty() ? 0 : windows.back().begin;
            if (!windows.empty())
                windows.pop_back();
        }
        qsizetype end = i + 1;
        while (end < size && !isAsciiLetter(units[end]))
            ++end;
        end = std::min(end + 1, size);
        windows.push_back({begin, end, {}});
        i = end - 1;
    }
    return windows;
}

// Reads the text as parseGeneral does, field by field across the edges of the windows: unit by unit
// outside them, cluster by cluster inside.
class MixedScanner {
public:
    MixedScanner(QStringView text, LineReader &reader)
        : m_text(text)
        , m_reader(reader)
        , m_windows(windowsAroundNonAscii(text)) {
        for (Window &w : m_windows) {
            w.boundary.assign(static_cast<size_t>(w.end - w.begin + 1), 0);
            w.boundary.front() = 1;
            w.boundary.back() = 1;
            QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.constData() + w.begin, w.end - w.begin);
            for (qsizetype p = finder.toNextBoundary(); p != -1; p = finder.toNextBoundary())
                w.boundary[static_cast<size_t>(p)] = 1;
        }
    }

    void run();

private:
    bool isBoundary(qsizetype i) const {
        const auto after = std::upper_bound(m_windows.begin(), m_windows.end(), i,
                                            [](qsizetype pos, const Window &w) { return pos < w.begin; });
        if (after == m_windows.begin())
            return true;
        const Window &w = *(after - 1);
        return i > w.end || w.boundary[static_cast<size_t>(i - w.begin)] != 0;
    }

    auto wholeCharacter() const {
        return [this](qsizetype i) { return isBoundary(i) && isBoundary(i + 1); };
    }

    void endField(qsizetype at) {
        if (m_fieldBegin >= 0) {
            m_reader.field({m_fieldBegin, at});
            m_fieldBegin = -1;
        }
    }

    void scanUnits(qsizetype from, qsizetype to) {
        const char16_t *units = m_text.utf16();
        for (qsizetype i = from; i < to;) {
            const char16_t c = units[i];
            if (isAsciiWhiteSpace(c)) {
                endField(i);
                if (c >= 0x0A && c <= 0x0D)
                    m_reader.endLine(wholeCharacter());
                else
                    m_reader.blank();
                ++i;
                continue;
            }
            if (m_fieldBegin < 0)
                m_fieldBegin = i;
            while (i < to && (units[i] > u' ' || !isAsciiWhiteSpace(units[i])))
                ++i;
        }
    }

    void scanClusters(const Window &w) {
        for (qsizetype begin = w.begin; begin < w.end;) {
            qsizetype end = begin + 1;
            while (w.boundary[static_cast<size_t>(end - w.begin)] == 0)
                ++end;
            const char32_t first = firstCodePoint(m_text, begin, end);
            if (isNewline(first)) {
                endField(begin);
                m_reader.endLine(wholeCharacter());
            } else if (QChar::isSpace(first)) {
                endField(begin);
                m_reader.blank();
            } else if (m_fieldBegin < 0) {
                m_fieldBegin = begin;
            }
            begin = end;
        }
    }

    QStringView m_text;
    LineReader &m_reader;
    std::vector<Window> m_windows;
    qsizetype m_fieldBegin = -1;
};

void MixedScanner::run() {
    qsizetype at = 0;
    for (const Window &w : m_windows) {
        scanUnits(at, w.begin);
        scanClusters(w);
        at = w.end;
    }
    scanUnits(at, m_text.size());
    endField(m_text.size());
    m_reader.endLine(wholeCharacter());
}

} // namespace

QList<PortEntry> LsofParser::parse(const QString &output) const {
    return isAscii(output) ? parseAscii(output) : parseMixed(output);
}

QList<PortEntry> LsofParser::parseMixed(const QString &output) const {
    const QStringView text(output);
    LineReader reader(text);
    MixedScanner(text, reader).run();
    return reader.finish();
}

QList<PortEntry> LsofParser::parseGeneral(const QString &output) const {
    const QStringView text(output);
    LineReader reader(text);
    scanClusters(text, 0, text.size(), reader);
    return reader.finish();
}

QList<PortEntry> LsofParser::parseAscii(const QString &output) const {
    Q_ASSERT(isAscii(output));
    const QStringView text(output);
    LineReader reader(text);
    scanAscii(text, 0, text.size(), reader);
    return reader.finish();
}

bool LsofParser::isAscii(QStringView text) {
    const char16_t *units = text.utf16();
    char16_t seen = 0;
    for (qsizetype i = 0; i < text.size(); ++i)
        seen |= units[i];
    return seen < 0x80;
}

} // namespace quaystone
