#pragma once

#include "model/PortEntry.h"
#include "model/RowError.h"

#include <QString>

#include <optional>

namespace quaystone {

// Gives the popup's views the accessible roles, names, states and child order that a screen
// reader expects of a list: the rows are list items in a list, named by port, process and
// folder, selected and focused with the store's selection. Installed once, before the first
// view is built.
void installPopoverAccessibility();

// A folder as read aloud: the home folder shortened to "~".
QString spokenDirectory(const QString &path, const QString &home);
// "Port 4243, python3, ~/src/api", and the row's error after it.
QString spokenRowName(const PortEntry &entry, std::optional<RowError> rowError, const QString &home);

} // namespace quaystone
