#pragma once

namespace quaystone {

// Why a kill request for a row failed.
enum class RowError { permissionDenied, couldNotKill };

} // namespace quaystone
