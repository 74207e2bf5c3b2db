#pragma once

namespace quaystone {

// How the tray icon was used: its primary activation (a left click); a context request that the
// tray host answers by showing the context menu itself (a right click on an XEmbed icon, or a
// StatusNotifierItem host showing the exported menu); or a host asking the app to show its menu
// (the StatusNotifierItem ContextMenu call).
enum class TrayActivation { primary, context, contextMenuRequest };

} // namespace quaystone
