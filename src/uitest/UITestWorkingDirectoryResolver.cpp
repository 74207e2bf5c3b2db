#include "uitest/UITestWorkingDirectoryResolver.h"

namespace quaystone {

QCoro::Task<std::optional<QString>> UITestWorkingDirectoryResolver::resolve(qint32) {
    co_return std::optional<QString>(QStringLiteral("/tmp/uitest/project"));
}

} // namespace quaystone
