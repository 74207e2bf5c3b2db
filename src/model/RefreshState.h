#pragma once

namespace quaystone {

enum class RefreshState { idle, loadingInitial, loaded };

} // namespace quaystone
