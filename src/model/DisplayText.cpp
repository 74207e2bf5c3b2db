#include "model/DisplayText.h"

namespace quaystone {

namespace {

bool needsEscape(char16_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F)                            // C0, DEL and C1 controls
           || c == 0x061C || c == 0x200E || c == 0x200F                    // bidi marks
           || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) // embeddings, overrides, isolates
           || c == 0x2028 || c == 0x2029;                                  // line and paragraph separators
}

} // namespace

QString displayText(QStringView text) {
    qsizetype i = 0;
    while (i < text.size() && !needsEscape(text[i].unicode()))
        ++i;
    if (i == text.size())
        return text.toString();

    QString out = text.first(i).toString();
    out.reserve(text.size() + 16);
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (!needsEscape(c)) {
            out.append(QChar(c));
            continue;
        }
        switch (c) {
        case u'\n':
            out.append(u"\\n");
            break;
        case u'\r':
            out.append(u"\\r");
            break;
        case u'\t':
            out.append(u"\\t");
            break;
        default:
            const QString hex = QString::number(uint(c), 16).toUpper().rightJustified(c < 0x100 ? 2 : 4, u'0');
            out.append(c < 0x100 ? u"\\x" : u"\\u").append(hex);
        }
    }
    return out;
}

} // namespace quaystone
