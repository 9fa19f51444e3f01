#!/usr/bin/env bash
# The real zelvane-updater.exe under Wine on a virtual display, driven with the keyboard and the
# mouse as a person would: a full update into C:\Program Files\Zelvane of the Wine prefix, and a
# folder that lacks its ninth marker file.
# Usage: updater_e2e.sh BUILD_DIR, with WINEPREFIX naming a prefix that wineboot has made and
# DISPLAY a display that every Wine program of that prefix has used (see scripts/test-windows).
set -euo pipefail
build="$(cd "$1" && pwd)"
: "${WINEPREFIX:?set WINEPREFIX to a Wine prefix made for this test run}"
: "${DISPLAY:?run under a display, such as xvfb-run}"
export WINEDEBUG="${WINEDEBUG:--all}"
wine=/usr/lib/wine/wine64
drive_c="$WINEPREFIX/drive_c"
install="$drive_c/Program Files/Zelvane"
work="$(mktemp -d /tmp/zelvane-e2e-XXXXXX)"
trap 'rm -rf "$work"' EXIT
markers=(engine.exe catalog_ix.exe Tray_In_kb.exe Tray_Out_kb.exe scan_ix.exe
    Reel_edit_km.exe ReelScan_ix.exe SparkField_kf.exe RippleShift_kf.exe)

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

make_install() {
    rm -rf "$install" "$drive_c/record.log"
    mkdir -p "$install/Help"
    for marker in "${markers[@]}"; do echo "version 3.0" >"$install/$marker"; done
    cp "$build/tests/NavTree.ocx" "$install/NavTree.ocx"
    cp "$build/tests/record-program.exe" "$install/UnpackDirs.exe"
    cp "$build/tests/record-program.exe" "$install/ViewHost.exe"
}

make_package() {
    mkdir -p "$work/product/Help"
    echo "engine 3.7" >"$work/product/engine.exe"
    echo "<h1>Zelvane 3.7</h1>" >"$work/product/Help/index.html"
    echo "What is new, in short." >"$work/product/Read me, 3.7.txt"
    (cd "$work" && "$wine" "$build/bin/zelvane-pack.exe" build product package >/dev/null)
    [[ -f "$work/package/FileList.txt" ]] || fail "zelvane-pack.exe made no package"
}

# Waits for a window whose title is exactly $1 and prints its id. The first window of a fresh
# prefix takes long: Wine sets up its fonts then.
wait_window() {
    for _ in $(seq 1 600); do
        if id="$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1)" &&
            [[ -n "$id" ]]; then
            echo "$id"
            return
        fi
        sleep 0.2
    done
    fail "no window \"$1\""
}

press() {  # press WINDOW KEY...
    local window="$1"
    shift
    sleep 0.5  # a window is found as soon as it is mapped, before it takes keys
    xdotool windowfocus --sync "$window" key --delay 100 "$@"
    sleep 0.5
}

click() {  # click WINDOW X Y, in the window's client coordinates
    xdotool mousemove --window "$1" "$2" "$3" click 1
    sleep 0.5
}

# Clicks the OK button of a message box, centred near its bottom edge.
click_ok() {
    local WIDTH HEIGHT
    sleep 0.5
    eval "$(xdotool getwindowgeometry --shell "$1")"
    click "$1" $((WIDTH / 2)) $((HEIGHT - 20))
}

start_updater() {
    (cd "$work/package" && ZELVANE_RECORD_LOG='C:\record.log' "$wine" \
        "$build/bin/zelvane-updater.exe" >/dev/null 2>&1) &
    updater=$!
    notice="$(wait_window "Zelvane update")"
    form="$(wait_window "Zelvane \(3.x\) updater \(rev2.02\)")"
    press "$notice" Return
}

wait_for_exit() {
    for _ in $(seq 1 100); do
        kill -0 "$updater" 2>/dev/null || return 0
        sleep 0.2
    done
    fail "the updater is still running"
}

full_update() {
    make_install
    start_updater
    # Silent mode sits just before Install in tab order; Space checks it, then Install.
    press "$form" shift+Tab space Tab
    press "$form" Return
    click_ok "$(wait_window "Zelvane updater")"
    wait_for_exit
    diff "$install/engine.exe" "$work/product/engine.exe" >/dev/null || fail "engine.exe"
    diff "$install/Help/index.html" "$work/product/Help/index.html" >/dev/null || fail "Help"
    [[ -f "$install/Read me, 3.7.txt" ]] || fail "Read me, 3.7.txt"
    [[ "$(cat "$install/NavTree.ocx.registered")" == $'DllRegisterServer\r' ]] ||
        fail "NavTree.ocx was not registered once"
    local records
    records="$(cut -f1,2 "$drive_c/record.log")"
    [[ "$records" == $'UnpackDirs.exe\tC:\\Program Files\\Zelvane\nViewHost.exe\tC:\\Program Files\\Zelvane' ]] ||
        fail "post-install programs: $records"
    echo "full update: ok"
}

missing_ninth_marker() {
    make_install
    rm "$install/${markers[8]}"
    start_updater
    click "$form" 56 482  # Install
    click_ok "$(wait_window "Zelvane updater")"
    sleep 1
    kill -0 "$updater" 2>/dev/null || fail "the window closed after the not-found message"
    [[ "$(cat "$install/engine.exe")" == "version 3.0" ]] || fail "engine.exe was changed"
    [[ ! -e "$install/NavTree.ocx.registered" && ! -e "$drive_c/record.log" ]] ||
        fail "something ran"
    click "$form" 650 482  # Cancel
    wait_for_exit
    echo "missing ninth marker: ok"
}

make_package
full_update
missing_ninth_marker
