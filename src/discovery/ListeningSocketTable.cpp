#include "ListeningSocketTable.h"

#include <QFile>

namespace quaystone {

namespace {

QList<ListeningSocket> toList(const std::vector<ListeningSocket> &sockets) {
    return QList<ListeningSocket>(sockets.cbegin(), sockets.cend());
}

} // namespace

ListeningSocketTable::ListeningSocketTable(QStringList tablePaths)
    : m_tablePaths(std::move(tablePaths)) {}

QStringList ListeningSocketTable::procTablePaths() {
    QStringList paths;
    for (const std::string &path : kernel::procTablePaths())
        paths.append(QFile::decodeName(path.c_str()));
    return paths;
}

QList<ListeningSocket> ListeningSocketTable::parse(QByteArrayView text) {
    std::vector<ListeningSocket> sockets;
    const std::size_t parsed = kernel::parseTableLines(std::string_view(text.data(), size_t(text.size())), sockets);
    // A last line without its newline is still a line.
    if (parsed < size_t(text.size()))
        kernel::parseTableLines(std::string(text.data() + parsed, size_t(text.size()) - parsed) + '\n', sockets);
    return toList(sockets);
}

QList<ListeningSocket> ListeningSocketTable::read() const {
    if (m_tablePaths)
        return readTextTables(*m_tablePaths);
    if (std::optional<QList<ListeningSocket>> sockets = readSocketDiag())
        return std::move(*sockets);
    return readTextTables(procTablePaths());
}

QList<ListeningSocket> ListeningSocketTable::readTextTables(const QStringList &paths) {
    std::vector<std::string> files;
    for (const QString &path : paths)
        files.push_back(QFile::encodeName(path).toStdString());
    return toList(kernel::readTextTables(files));
}

std::optional<QList<ListeningSocket>> ListeningSocketTable::readSocketDiag() {
    const std::optional<std::vector<ListeningSocket>> sockets = kernel::readSocketDiag();
    if (!sockets)
        return std::nullopt;
    return toList(*sockets);
}

} // namespace quaystone
