#pragma once

namespace quaystone {

// The keyboard commands of the open popup. "No command" is an empty optional.
enum class PopoverKeyAction {
    selectPrevious,
    selectNext,
    selectFirst,
    selectLast,
    selectPageUp,
    selectPageDown,
    killSelected,
    refresh,
    closePopover
};

} // namespace quaystone
