#include "ProcessName.h"

namespace quaystone {

namespace {

// Where a UTF-8 sequence that was cut off at the end of text begins, or its size when none was.
qsizetype endOfWholeSequences(QByteArrayView text) {
    for (qsizetype back = 1; back <= 3 && back <= text.size(); ++back) {
        const auto byte = static_cast<unsigned char>(text[text.size() - back]);
        if ((byte & 0xC0) == 0x80)
            continue; // a continuation byte: look further back for its lead
        const qsizetype length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
        return length > back ? text.size() - back : text.size();
    }
    return text.size();
}

} // namespace

std::optional<QString> processName(QByteArrayView kernelName, QByteArrayView commandLine) {
    if (kernelName.endsWith('\n'))
        kernelName.chop(1);
    if (kernelName.isEmpty())
        return std::nullopt;
    if (kernelName.size() >= kernelNameLimit) {
        // Compared as bytes: the cut may fall inside a character.
        const qsizetype end = commandLine.indexOf('\0');
        QByteArrayView program = end < 0 ? commandLine : commandLine.first(end);
        program = program.sliced(program.lastIndexOf('/') + 1);
        if (program.size() > kernelName.size() && program.startsWith(kernelName))
            return QString::fromUtf8(program);
        // A cut name may end in part of a character; that part was never ill-formed, so it is
        // dropped rather than shown as a replacement character.
        kernelName.truncate(endOfWholeSequences(kernelName));
    }
    return QString::fromUtf8(kernelName);
}

} // namespace quaystone
