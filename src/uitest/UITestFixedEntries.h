#pragma once

#include "model/PortEntry.h"

#include <QList>

namespace quaystone {

// The two listeners of the fake world, in list order: pid 777 "UITestServer" on 4242 in
// "/tmp/uitest/project", then pid 888 "UITestWorker" on 5252 in "/tmp/uitest/worker". The fake
// listing serves them and the test host seeds its store with them.
QList<PortEntry> uiTestFixedEntries();

} // namespace quaystone
