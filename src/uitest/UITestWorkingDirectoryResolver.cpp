#include "uitest/UITestWorkingDirectoryResolver.h"

namespace quaystone {

QCoro::Task<ProcessDetails> UITestWorkingDirectoryResolver::resolve(qint32) {
    ProcessDetails details;
    details.workingDirectory = QStringLiteral("/tmp/uitest/project");
    co_return details;
}

} // namespace quaystone
