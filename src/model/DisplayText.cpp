#include "model/DisplayText.h"

namespace quaystone {

namespace {

// The code point at i, or the lone surrogate there; its length in code units.
struct CodePoint {
    char32_t value;
    qsizetype length;
    bool unpaired;
};

CodePoint codePointAt(QStringView text, qsizetype i) {
    const QChar c = text[i];
    if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
        return {QChar::surrogateToUcs4(c, text[i + 1]), 2, false};
    return {c.unicode(), 1, c.isSurrogate()};
}

bool needsEscape(const CodePoint &c) {
    const char32_t u = c.value;
    if (u < 0x80)
        return u < 0x20 || u == 0x7F || u == u'\\';      // C0 controls, DEL, and the escape character itself
    return (u <= 0x9F)                                   // C1 controls
           || c.unpaired                                 // no character at all
           || u == 0x2028 || u == 0x2029                 // line and paragraph separators
           || QChar::category(u) == QChar::Other_Format; // invisible: bidi controls, zero widths, tags
}

} // namespace

QString displayText(QStringView text) {
    qsizetype i = 0;
    while (i < text.size()) {
        const CodePoint c = codePointAt(text, i);
        if (needsEscape(c))
            break;
        i += c.length;
    }
    if (i == text.size())
        return text.toString();

    QString out = text.first(i).toString();
    out.reserve(text.size() + 16);
    while (i < text.size()) {
        const CodePoint c = codePointAt(text, i);
        if (!needsEscape(c)) {
            out.append(text.sliced(i, c.length));
        } else if (c.value == u'\n') {
            out.append(u"\\n");
        } else if (c.value == u'\r') {
            out.append(u"\\r");
        } else if (c.value == u'\t') {
            out.append(u"\\t");
        } else if (c.value == u'\\') {
            out.append(u"\\\\");
        } else {
            const int digits = c.value < 0x100 ? 2 : c.value < 0x10000 ? 4 : 8;
            out.append(digits == 2 ? u"\\x" : digits == 4 ? u"\\u" : u"\\U");
            out.append(QString::number(uint(c.value), 16).toUpper().rightJustified(digits, u'0'));
        }
        i += c.length;
    }
    return out;
}

QString wellFormed(QStringView text) {
    QString out = text.toString();
    for (qsizetype i = 0; i < out.size(); i += codePointAt(out, i).length) {
        if (codePointAt(out, i).unpaired)
            out[i] = QChar::ReplacementCharacter;
    }
    return out;
}

} // namespace quaystone
