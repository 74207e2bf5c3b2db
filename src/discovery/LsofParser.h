#pragma once

#include "model/PortEntry.h"

#include <QList>
#include <QStringView>

namespace quaystone {

// Reads lsof's columnar listing of TCP sockets ("lsof -n -P -iTCP -sTCP:LISTEN") into port entries:
// one per pid and port (a later line wins), sorted by port then pid, without working directories.
// The text is read as user-perceived characters; lines the format does not fit are skipped.
class LsofParser {
public:
    // parseAscii when the text is ASCII, parseMixed otherwise.
    QList<PortEntry> parse(const QString &output) const;

    // The readings behind parse(), public so that tests and benchmarks can hold them side by side.
    // parseGeneral segments the whole text into grapheme clusters and accepts any text. It segments
    // the text as a whole because Qt's segmentation depends on context across lines: it tailors
    // clusters by script runs, which reach over newlines. parseAscii requires isAscii(output): there
    // every character but CR LF is one code unit, so it reads unit by unit, with the same result.
    QList<PortEntry> parseGeneral(const QString &output) const;
    QList<PortEntry> parseAscii(const QString &output) const;
    // Accepts any text, with parseGeneral's result: it segments only the stretches around non-ASCII
    // units, each on its own, where the segmentation matches the whole text's, and reads the rest unit by
    // unit.
    QList<PortEntry> parseMixed(const QString &output) const;

    static bool isAscii(QStringView text);
};

} // namespace quaystone
