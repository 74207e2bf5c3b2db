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

// The line rule. wholeCharacter(i) tells whether the code unit at i is a character on its own: a colon
// or a parenthesis that a grapheme cluster joins to its neighbour is not that character. The numeric
// checks need no such test, since a field of ASCII signs and digits can hold no multi-unit cluster.
template <typename WholeCharacter>
std::optional<PortEntry> entryFromLine(QStringView text, const LineFields &fields,
                                       const WholeCharacter &wholeCharacter) {
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

    return PortEntry(*pid, *port, view(fields.command).toString());
}

// Drops the header line, applies the line rule to every other line and keeps the latest entry per id.
class EntryCollector {
public:
    template <typename WholeCharacter>
    void addLine(QStringView text, const LineFields &fields, const WholeCharacter &wholeCharacter) {
        if (!m_headerSkipped) {
            m_headerSkipped = true;
            return;
        }
        std::optional<PortEntry> entry = entryFromLine(text, fields, wholeCharacter);
        if (!entry)
            return;
        // One lookup per line: 0 means "not seen yet", otherwise the position in m_entries plus one.
        qsizetype &slot = m_positions[entry->id()];
        if (slot == 0) {
            m_entries.append(std::move(*entry));
            slot = m_entries.size();
        } else {
            m_entries[slot - 1] = std::move(*entry);
        }
    }

    QList<PortEntry> takeSorted() {
        std::sort(m_entries.begin(), m_entries.end(), displayOrderLess);
        return std::move(m_entries);
    }

private:
    bool m_headerSkipped = false;
    QHash<PortEntryID, qsizetype> m_positions;
    QList<PortEntry> m_entries;
};

char32_t firstCodePoint(QStringView text, qsizetype begin, qsizetype end) {
    const QChar c = text[begin];
    if (c.isHighSurrogate() && begin + 1 < end && text[begin + 1].isLowSurrogate())
        return QChar::surrogateToUcs4(c, text[begin + 1]);
    return c.unicode();
}

} // namespace

QList<PortEntry> LsofParser::parse(const QString &output) const {
    return isAscii(output) ? parseAscii(output) : parseGeneral(output);
}

QList<PortEntry> LsofParser::parseGeneral(const QString &output) const {
    const QStringView text(output);
    const qsizetype size = text.size();

    // boundary[i]: a grapheme cluster starts at code unit i, or the text ends there.
    std::vector<bool> boundary(size + 1, false);
    boundary[0] = true;
    boundary[size] = true;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, output);
    for (qsizetype p = finder.toNextBoundary(); p != -1; p = finder.toNextBoundary())
        boundary[p] = true;
    const auto wholeCharacter = [&boundary](qsizetype i) { return boundary[i] && boundary[i + 1]; };

    EntryCollector collector;
    LineFields fields;
    bool lineStarted = false;
    qsizetype fieldBegin = -1;
    const auto endField = [&](qsizetype at) {
        if (fieldBegin >= 0) {
            fields.add({fieldBegin, at});
            fieldBegin = -1;
        }
    };
    const auto endLine = [&] {
        if (lineStarted) {
            collector.addLine(text, fields, wholeCharacter);
            fields = {};
            lineStarted = false;
        }
    };

    // A cluster is a newline or whitespace by its first code point; a whitespace cluster separates
    // fields as a whole, marks joined to it included.
    for (qsizetype begin = 0; begin < size;) {
        qsizetype end = begin + 1;
        while (!boundary[end])
            ++end;
        const char32_t first = firstCodePoint(text, begin, end);
        if (isNewline(first)) {
            endField(begin);
            endLine();
        } else {
            lineStarted = true;
            if (QChar::isSpace(first))
                endField(begin);
            else if (fieldBegin < 0)
                fieldBegin = begin;
        }
        begin = end;
    }
    endField(size);
    endLine();
    return collector.takeSorted();
}

QList<PortEntry> LsofParser::parseAscii(const QString &output) const {
    Q_ASSERT(isAscii(output));
    const QStringView text(output);
    const char16_t *units = text.utf16();
    const qsizetype size = text.size();
    const auto wholeCharacter = [](qsizetype) { return true; };

    EntryCollector collector;
    LineFields fields;
    bool lineStarted = false;
    for (qsizetype i = 0; i < size;) {
        const char16_t c = units[i];
        if (c >= 0x0A && c <= 0x0D) {
            // CR LF needs no pairing here: the empty line between them is dropped anyway.
            if (lineStarted) {
                collector.addLine(text, fields, wholeCharacter);
                fields = {};
                lineStarted = false;
            }
            ++i;
        } else if (isAsciiWhiteSpace(c)) {
            lineStarted = true;
            ++i;
        } else {
            const qsizetype begin = i;
            while (i < size && !isAsciiWhiteSpace(units[i]))
                ++i;
            fields.add({begin, i});
            lineStarted = true;
        }
    }
    if (lineStarted)
        collector.addLine(text, fields, wholeCharacter);
    return collector.takeSorted();
}

bool LsofParser::isAscii(QStringView text) {
    const char16_t *units = text.utf16();
    char16_t seen = 0;
    for (qsizetype i = 0; i < text.size(); ++i)
        seen |= units[i];
    return seen < 0x80;
}

} // namespace quaystone
