#pragma once

namespace quaystone {

// How the tray icon was clicked: its primary activation (a left click) or a context request
// (a right click, which the tray host answers by showing the context menu itself).
enum class TrayActivation { primary, context };

} // namespace quaystone
