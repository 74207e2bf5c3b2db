#include "uitest/UITestFixedEntries.h"

namespace quaystone {

QList<PortEntry> uiTestFixedEntries() {
    return {
        PortEntry(777, 4242, QStringLiteral("UITestServer"), QStringLiteral("/tmp/uitest/project")),
        PortEntry(888, 5252, QStringLiteral("UITestWorker"), QStringLiteral("/tmp/uitest/worker")),
    };
}

} // namespace quaystone
