#pragma once

#include "termination/ProcessOpening.h"

namespace quaystone {

// pidfd_open(2). A pid of 0 or below is refused with EINVAL without calling it.
class PidfdProcessOpener final : public ProcessOpening {
public:
    ProcessOpenResult open(qint32 pid) override;
};

} // namespace quaystone
