#include "SystemdCgroup.h"

#include <QFile>
#include <QList>

#include <cerrno>
#include <cstdio>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quaystone::systemdcgroup {

namespace {

// Unit names are short and plain: anything else in a cgroup's name is not a unit of systemd's.
bool isUnitName(QByteArrayView name, QByteArrayView suffix) {
    if (!name.endsWith(suffix) || name.size() <= suffix.size() || name.size() > 255)
        return false;
    for (const char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' ||
                           c == '_' || c == '.' || c == '@' || c == '-' || c == '\\';
        if (!plain)
            return false;
    }
    return true;
}

// systemd prefixes a cgroup's name with "_" where the unit's name could clash with the
// kernel's own files; the unit's name is the rest.
QByteArrayView unescaped(QByteArrayView component) {
    return component.startsWith('_') ? component.sliced(1) : component;
}

std::optional<quint32> userManagerUid(QByteArrayView component) {
    constexpr QByteArrayView prefix("user@");
    constexpr QByteArrayView suffix(".service");
    if (!component.startsWith(prefix) || !component.endsWith(suffix))
        return std::nullopt;
    const QByteArrayView digits = component.sliced(prefix.size(), component.size() - prefix.size() - suffix.size());
    bool ok = false;
    const uint uid = digits.toByteArray().toUInt(&ok, 10);
    if (!ok || digits.isEmpty() || digits.front() == '+')
        return std::nullopt;
    return quint32(uid);
}

std::optional<QString> cgroup2Mount() {
    QFile file(QStringLiteral("/proc/self/mountinfo"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // "id parent major:minor root mountpoint options ... - fstype source superoptions"
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype separator = fields.indexOf("-");
        if (fields.size() < 5 || separator < 0 || separator + 1 >= fields.size() || fields[separator + 1] != "cgroup2")
            continue;
        // The kernel writes a space, tab, newline and backslash in a path as octal escapes.
        QByteArray path = fields[4];
        for (qsizetype i = path.indexOf('\\'); i >= 0 && i + 3 < path.size(); i = path.indexOf('\\', i + 1))
            path.replace(i, 4, QByteArray(1, char(path.mid(i + 1, 3).toInt(nullptr, 8))));
        return QFile::decodeName(path);
    }
    return std::nullopt;
}

// Depth first below dir; each directory's inode number is its cgroup's id.
void walk(int dir, const QByteArray &path, const QSet<quint64> &ids, QHash<quint64, QByteArray> &found, int depth) {
    DIR *stream = ::fdopendir(dir);
    if (!stream) {
        ::close(dir);
        return;
    }
    while (found.size() < ids.size()) {
        const dirent *entry = ::readdir(stream);
        if (!entry)
            break;
        if (entry->d_type != DT_DIR || entry->d_name[0] == '.')
            continue;
        const QByteArray child = path + '/' + entry->d_name;
        if (ids.contains(quint64(entry->d_ino)))
            found.insert(quint64(entry->d_ino), child);
        // The tree of a real system is a few levels deep; a bound keeps a strange one cheap.
        if (depth >= 16)
            continue;
        const int childDir = ::openat(::dirfd(stream), entry->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
        if (childDir >= 0)
            walk(childDir, child, ids, found, depth + 1);
    }
    ::closedir(stream);
}

} // namespace

bool systemdIsRunning() {
    struct stat status {};
    return ::lstat("/run/systemd/system", &status) == 0 && S_ISDIR(status.st_mode);
}

std::optional<QByteArray> pathOfProcessFile(QByteArrayView text) {
    std::optional<QByteArray> unified;
    std::optional<QByteArray> named;
    for (const QByteArray &line : text.toByteArray().split('\n')) {
        // "hierarchy-id:controllers:path"; the path itself may hold colons.
        const qsizetype first = line.indexOf(':');
        const qsizetype second = first < 0 ? -1 : line.indexOf(':', first + 1);
        if (second < 0)
            continue;
        const QByteArray hierarchy = line.left(first);
        const QByteArray controllers = line.mid(first + 1, second - first - 1);
        const QByteArray path = line.mid(second + 1);
        if (hierarchy == "0" && controllers.isEmpty())
            unified = path;
        else if (controllers == "name=systemd")
            named = path;
    }
    // On a hybrid hierarchy the unified line may stand at the root while systemd's own tree
    // holds the unit.
    if (unified && *unified != "/")
        return unified;
    return named ? named : unified;
}

CgroupPlacement placementOf(QByteArrayView path) {
    const QList<QByteArray> components = path.toByteArray().split('/');
    qsizetype userManager = -1;
    quint32 uid = 0;
    for (qsizetype i = 0; i < components.size(); ++i) {
        if (const std::optional<quint32> owner = userManagerUid(components[i])) {
            userManager = i;
            uid = *owner;
            break;
        }
    }
    CgroupPlacement placement;
    for (qsizetype i = components.size() - 1; i > userManager; --i) {
        const QByteArrayView name = unescaped(components[i]);
        if (isUnitName(name, ".service")) {
            placement.kind = CgroupPlacement::Kind::service;
            placement.unit =
                ServiceUnit{QString::fromLatin1(name), userManager >= 0 ? ServiceScope::user : ServiceScope::system,
                            userManager >= 0 ? uid : 0};
            return placement;
        }
    }
    if (userManager >= 0) {
        if (userManager + 2 == components.size() && components.back() == "init.scope") {
            placement.kind = CgroupPlacement::Kind::userManager;
            placement.userUid = uid;
        }
    } else if (path == "/init.scope") {
        placement.kind = CgroupPlacement::Kind::systemManager;
    }
    return placement;
}

CgroupPlacement placementOfProcess(qint32 pid) {
    if (pid <= 0)
        return {};
    QFile file(QStringLiteral("/proc/%1/cgroup").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const std::optional<QByteArray> path = pathOfProcessFile(file.read(64 * 1024));
    return path ? placementOf(*path) : CgroupPlacement{};
}

QHash<quint64, QByteArray> pathsOfIds(const QSet<quint64> &ids) {
    QHash<quint64, QByteArray> found;
    const std::optional<QString> mount = ids.isEmpty() ? std::nullopt : cgroup2Mount();
    if (!mount)
        return found;
    const int root = ::open(QFile::encodeName(*mount).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root < 0)
        return found;
    struct stat status {};
    if (::fstat(root, &status) == 0 && ids.contains(quint64(status.st_ino)))
        found.insert(quint64(status.st_ino), "/");
    walk(root, QByteArray(), ids, found, 0);
    return found;
}

} // namespace quaystone::systemdcgroup
