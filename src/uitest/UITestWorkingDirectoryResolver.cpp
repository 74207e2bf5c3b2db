#include "uitest/UITestWorkingDirectoryResolver.h"

namespace quaystone {

QCoro::Task<ProcessDetails> UITestWorkingDirectoryResolver::resolve(qint32) {
    co_return ProcessDetails{.workingDirectory = QStringLiteral("/tmp/uitest/project")};
}

} // namespace quaystone
