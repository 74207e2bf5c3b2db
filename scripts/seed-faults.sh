#!/usr/bin/env bash
# Checks the tests themselves: seeds each fault below into the source, one at a time, rebuilds
# the tests named beside it, runs them and expects a failure, then restores the file. Prints
# CAUGHT or MISSED per fault (NOT APPLIED where its edit no longer matches the source, NO BUILD
# where the edit does not compile) and exits 1 unless every fault was caught.
#
# Usage: scripts/seed-faults.sh [BUILD-DIR] [PATTERN]   (only the faults whose line matches)
# BUILD-DIR is a configured build of this tree (default build/).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build}")
pattern=${2:-}

# TESTS (a ctest -R expression), FILE, and a one-line sed edit that breaks it.
faults() {
    cat <<'EOF'
^test_port_store$ src/model/PortStore.cpp s/m_pendingRefresh = true;/m_pendingRefresh = false;/
^test_port_store$ src/model/PortStore.cpp s/setRefreshState(RefreshState::idle);/setRefreshState(RefreshState::loaded);/
^test_port_store$ src/model/PortStore.cpp s/if (previous.isEmpty())/if (true)/
^test_port_store$ src/model/PortStore.cpp s/qsizetype j = i + 1;/qsizetype j = i + 2;/
^test_port_store$ src/model/PortStore.cpp s/putBackWithError(affected, rowErrorFor(outcome));/clearRowErrors(affected);/
^test_port_store$ src/model/PortStore.cpp s/    m_suppressedPIDs.insert(pid);//
^test_port_store$ src/model/PortStore.cpp s/p.startTime == entry.startTime())/true)/
^test_port_store$ src/model/PortStore.cpp s/read.insert(entry.pid(), details);//
^test_port_store(_administrator_stop)?$ src/model/PortStore.cpp s/if (!m_entries.at(index).hasProcess()) {/if (false) {/
^test_port_store_administrator_stop$ src/model/PortStore.cpp s/m_freedPorts.insert({port, uid}, ++m_sequence);//
^test_port_store_administrator_stop$ src/model/PortStore.cpp s/!e.hasProcess() \&\& e.id().ownerUid == uid;/!e.hasProcess();/
^test_container_store$ src/model/PortStore.cpp s/recordRowError(entry, RowError::containerProxy);/recordRowError(entry, RowError::couldNotKill);/
^test_lsof_parser$ src/discovery/LsofParser.cpp s/a.id.port < b.id.port : a.id.pid < b.id.pid/a.id.pid < b.id.pid : a.id.port < b.id.port/
^test_lsof_parser$ src/discovery/LsofParser.cpp s/m_found\[static_cast<size_t>(slot - 1)\] = \*found;//
^test_lsof_parser$ src/discovery/LsofParser.cpp s/(std::numeric_limits<Int>::max() - digit) \/ 10/std::numeric_limits<Int>::max()/
^test_lsof_parser$ src/discovery/LsofParser.cpp s/return seen < 0x80;/return true;/
^test_lsof_parser$ src/discovery/LsofParser.cpp s/if (fields.count < 9)/if (fields.count < 3)/
^test_port_listing$ src/discovery/DefaultPortListingService.cpp s/return !range.contains(entry.port());/return false;/
^test_port_listing$ src/discovery/DefaultPortListingService.cpp s/return ListingFailure::toolNotExecutable;/return ListingFailure::toolMissing;/
^test_system_port_listing$ src/discovery/SystemPortListingService.cpp s/socket.uid != ownUid &&/true \&\&/
^test_signal_process_killer$ src/termination/SignalProcessKiller.cpp s/if (!startTime)/if (false)/
^test_signal_process_killer$ src/termination/SignalProcessKiller.cpp s/if (!isStillListed())/if (false)/
^test_signal_process_killer$ src/termination/SignalProcessKiller.cpp s/case EPERM:/case EACCES:/
^test_signal_process_killer$ src/termination/SignalProcessKiller.cpp s/if (exited)/if (false)/
^test_pkexec_administrator_stopper$ src/termination/PkexecAdministratorStopper.cpp s/port < stopport::lowestPort ||/false ||/
^test_pkexec_administrator_stopper$ src/termination/PkexecAdministratorStopper.cpp s/return AdministratorStopOutcome::cancelled;/return AdministratorStopOutcome::notAuthorized;/
^test_pkexec_administrator_stopper$ src/termination/PkexecAdministratorStopper.cpp s/result.standardError.contains("Error getting authority") ||/false ||/
^test_stop_port_helper$ src/kernel/StopPort.cpp s/result.status = unreadable ? failed : noListener;/result.status = failed;/
^test_stop_port_helper$ src/kernel/StopPort.cpp s/return base == "docker-proxy" ||/return false \&\& base == "docker-proxy" ||/
^test_stop_port_helper$ src/kernel/StopPort.cpp s/if (protectedPids.count(process.pid) != 0)/if (false)/
^test_port_model$ src/model/DisplayText.cpp s/case u'\\n':/case u'\\v':/
^test_popover_views$ src/views/PortRowView.cpp s/return tr("Permission denied");/return tr("Could not kill process");/
^test_popover_views$ src/views/PortRowView.cpp s/tr("Kill %1 on port %2").arg(name, port)/tr("Kill %1").arg(name)/
^test_popover_views$ src/views/PortRowView.cpp s/if (m_entry.workingDirectoryDeleted()) {/if (false) {/
^test_popover_views$ src/views/PopoverRootView.cpp s/if (seconds > 4)/if (seconds > 40)/
^test_popover_views$ src/views/PopoverRootView.cpp s/tr("Update failed: %1")/tr("Last updated: %1")/
^test_port_model$ src/model/DisplayText.cpp s/out.append(u"\\\\t");/out.append(u"\\\\x09");/
^test_port_model$ src/model/DisplayText.cpp s/(c >= 0x7F && c <= 0x9F)/(c > 0x7F \&\& c <= 0x9F)/
^test_popover_views$ src/views/PortRowView.cpp s/m_nameLabel = new TextLabel(displayText(entry.processName())/m_nameLabel = new TextLabel((entry.processName())/
^test_menu_bar_controller$ src/app/MenuBarController.cpp s/if (!m_popover->canBePlaced() \&\& m_windowFactory) {/if (false) {/
^tray_late_sni$ src/app/DBusMenuExporter.cpp s/properties.insert(QStringLiteral("label"), menuLabel(action.text()));//
^wayland_(gnome|plasma)$ src/app/SystemTrayStatusItem.cpp s/        m_pointer = at;/        rememberPointer();/
^wayland_(gnome|plasma)$ src/app/WindowSystem.cpp s/internAtom(connection, "_NET_WM_STATE_SKIP_TASKBAR"),/internAtom(connection, "_NET_WM_STATE_ABOVE"),/
^wayland_plasma$ src/app/WindowSystem.cpp s/"_GTK_APPLICATION_ID",/"_QUAYSTONE_UNREAD",/
^tray_wayland$ src/app/SystemTrayStatusItem.cpp s/    if (currentWindowSystem() == WindowSystem::wayland) {/    if (false) {/
^wayland_(gnome|plasma)$ src/app/main.cpp s/const bool choseXwayland = quaystone::preferXwaylandInWaylandSession();/const bool choseXwayland = false;/
EOF
}

# The test programs among the tests; the app and its helper for end-to-end tests.
targets_of() {
    local t targets=()
    for t in $(ctest --test-dir "$build" -N -R "$1" | awk '/Test +#/ { print $3 }'); do
        grep -q "^build $t: phony" "$build/build.ninja" && targets+=("$t")
    done
    echo "${targets[@]:-quaystone quaystone-stop-port}"
}

backup=$(mktemp)
current=''
restore() { [ -n "$current" ] && cp "$backup" "$root/$current"; current=''; }
trap 'restore; rm -f "$backup"' EXIT
trap 'exit 1' INT TERM

missed=0 total=0 built=()
while read -r tests file edit; do
    [[ -z "$tests" || "$tests" == \#* ]] && continue
    [ -n "$pattern" ] && ! grep -qF -- "$pattern" <<<"$tests $file $edit" && continue
    total=$((total + 1))
    cp "$root/$file" "$backup"
    current=$file
    sed -i "$edit" "$root/$file"
    read -ra targets <<<"$(targets_of "$tests")"
    built+=("${targets[@]}")
    if cmp -s "$backup" "$root/$file"; then
        verdict='NOT APPLIED'
    elif ! cmake --build "$build" -j2 --target "${targets[@]}" >"$backup.log" 2>&1; then
        verdict='NO BUILD'
    elif ctest --test-dir "$build" -R "$tests" --timeout 300 --output-on-failure >"$backup.log" 2>&1; then
        verdict=MISSED
    else
        # By which cases (the test's name where it is no gtest program).
        verdict="CAUGHT ($(grep -ao '\[  FAILED  \] [A-Za-z_]*\.[A-Za-z_]*' "$backup.log" | sort -u | cut -c14- |
            paste -sd, - | grep . || grep -ao '[0-9]* - [a-z_]*' "$backup.log" | cut -d' ' -f3 | paste -sd, -))"
    fi
    restore
    [[ "$verdict" == CAUGHT* ]] || missed=$((missed + 1))
    printf '%s %s: %s\n' "$verdict" "$file" "$edit"
done < <(faults)
rm -f "$backup.log"
echo "seed-faults: $((total - missed)) of $total caught"
# The programs as the source is again.
((total == 0)) || cmake --build "$build" -j2 --target "${built[@]}" >/dev/null 2>&1
((missed == 0))
