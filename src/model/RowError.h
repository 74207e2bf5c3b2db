#pragma once

namespace quaystone {

// Why a kill request for a row failed. The last two come from a stop as administrator.
enum class RowError { permissionDenied, couldNotKill, notAuthorized, administratorStopUnavailable };

} // namespace quaystone
