#!/usr/bin/env bash
# The real zelvane-updater.exe under Wine on a virtual display, driven with the keyboard and the
# mouse as a person would: a full update into C:\Program Files\Zelvane of the Wine prefix, during
# which the window must go on answering, and a folder that lacks its ninth marker file. The
# window is read back from the screen and measured against its description at 96 DPI, then at
# 144 DPI in a second, fresh prefix on a larger screen of its own.
# Usage: updater_e2e.sh BUILD_DIR, with WINEPREFIX naming a prefix that wineboot has made and
# DISPLAY a display that every Wine program of that prefix has used (see scripts/test-windows).
# The script runs itself again as updater_e2e.sh BUILD_DIR TEXT_HEIGHT_AT_96_DPI for 144 DPI.
set -euo pipefail
build="$(cd "$1" && pwd)"
: "${WINEPREFIX:?set WINEPREFIX to a Wine prefix made for this test run}"
wine=/usr/lib/wine/wine64
banner="$(dirname "${BASH_SOURCE[0]}")/../../ui/banner/banner.bmp"
work="$(mktemp -d /tmp/zelvane-e2e-XXXXXX)"
trap 'rm -rf "$work"' EXIT
dpi=96
install="$WINEPREFIX/drive_c/Program Files/Zelvane"
log="$WINEPREFIX/drive_c/record.log"

fail() { echo "FAIL: $*" >&2; exit 1; }

make_install() {
    rm -rf "$install" "$log" && mkdir -p "$install" && cp "$build/tests/NavTree.ocx" "$install"
    for marker in engine catalog_ix Tray_In_kb Tray_Out_kb scan_ix Reel_edit_km ReelScan_ix \
        SparkField_kf RippleShift_kf; do echo "version 3.0" >"$install/$marker.exe"; done
    for p in UnpackDirs ViewHost; do cp "$build/tests/record-program.exe" "$install/$p.exe"; done
}

# Every file of the install with its content's hash, and the record of programs started.
install_state() {
    (cd "$install" && find . -type f -exec md5sum {} + | sort && cat "$log" 2>/dev/null || true)
}

# retry TRIES COMMAND...: runs COMMAND every 0.2 s, TRIES times at most, until it succeeds.
retry() { for _ in $(seq 1 "$1"); do "${@:2}" && return 0 || sleep 0.2; done; return 1; }
visible() { id="$(xdotool search --onlyvisible --name "^$1\$" | head -n1)" && [[ $id ]]; }
unmapped() { ! xwininfo -id "$1" 2>/dev/null | grep -q IsViewable; }
ended() { ! kill -0 "$updater" 2>/dev/null; }
# The first window of a fresh prefix takes long: Wine sets up its fonts then.
wait_window() { retry 600 visible "$1" || fail "no window \"$1\""; echo "$id"; }
wait_for_exit() { retry 100 ended || fail "the updater is still running"; }
cancel() { click "$form" "$(px 9750)" "$(px 7230)"; wait_for_exit; }

# A window is found as soon as it is mapped, before it takes keys: hence the pauses.
press() { sleep 0.5 && xdotool windowfocus --sync "$1" key --delay 100 "${@:2}" && sleep 0.5; }
click() { xdotool mousemove --window "$1" "$2" "$3" click 1 && sleep 0.5; }  # client X Y

dismiss() {  # dismiss TITLE: Return on a message box; Wine unmaps it a while after it closed
    box="$(wait_window "$1")"
    press "$box" Return
    retry 100 unmapped "$box" || true
}

start_updater() {
    (mkdir -p "$work/package" && cd "$work/package" && ZELVANE_RECORD_LOG='C:\record.log' "$wine" \
        "$build/bin/zelvane-updater.exe" >/dev/null 2>&1) &
    updater=$!
    form="$(wait_window "Zelvane \(3.x\) updater \(rev2.02\)")"
    dismiss "Zelvane update"
}

# Twips of the description as pixels at $dpi, rounded as Windows' MulDiv rounds.
px() { echo $((($1 * dpi + 720) / 1440)); }
# The screen's area for twips LEFT TOP WIDTH HEIGHT of the client area, as WxH+X+Y.
area() { echo "$(px "$3")x$(px "$4")+$((x0 + $(px "$1")))+$((y0 + $(px "$2")))"; }
shot() { convert "$work/screen.png" "$@" info:; }
# The height of the dark pixels (the text) in a screen area, and the screen row below them.
ink() {
    IFS='x+' read -r _ height _ y <<<"$(shot -crop "$1" +repage -colorspace gray -threshold 50% \
        -negate -format %@)"
    echo "$height $((${1##*+} + y + height))"
}
at() { echo "$((x0 + $(px "$1"))),$((y0 + $(px "$2")))"; }  # twips X Y of the client area

# The window read from the screen at $dpi: the client area is where its grey 221 is; the
# grey shows inside the frame, beside Silent mode and beside Path; Path stands on the baseline
# of the path box's C:\; the banner is in place. Sets cancel_text to the Cancel text's height.
check_window() {  # check_window CLIENT_SIZE BANNER_LIMIT
    import -window root "$work/screen.png"
    box="$(shot -fill black +opaque 'rgb(221,221,221)' -format %@)"
    [[ "$box" == "$1+"* ]] || fail "the client area at $dpi DPI is $box, not $1"
    IFS='+' read -r _ x0 y0 <<<"$box"
    where="%[hex:p{$(at 300 5300)}] %[hex:p{$(at 9375 6285)}] %[hex:p{$(at 5865 4635)}]"
    [[ "$(shot -format "$where")" == "DDDDDD DDDDDD DDDDDD" ]] ||
        fail "not the window's grey inside the frame, by Silent mode and by Path at $dpi DPI"
    label="$(ink "$(area 5850 4620 855 255)")" path_box="$(ink "$(area 6840 4620 450 255)")"
    ((${label#* } == ${path_box#* })) || fail "Path ends on row ${label#* }, C:\ on ${path_box#* }"
    read -r cancel_text _ <<<"$(ink "$(area 9090 7110 1335 255)")"
    rmse="$(convert "$banner" -resize "$(px 9870)x$(px 4740)!" -crop "$(px 9870)x$(px 4170)+0+0" \
        +repage \( "$work/screen.png" -crop "$(area 360 420 9870 4170)" +repage \) \
        -metric RMSE -compare -format '%[distortion]' info:)"  # the banner above the path row
    awk "BEGIN { exit !($rmse <= $2) }" || fail "the banner at $dpi DPI differs by $rmse"
}

full_update() {
    mkdir -p "$work/product" && echo "engine 3.7" >"$work/product/engine.exe"
    (cd "$work" && "$wine" "$build/bin/zelvane-pack.exe" build product package >/dev/null)
    make_install
    ZELVANE_RECORD_SLEEP_MS=3000 start_updater
    check_window 709x500 0
    # Silent mode sits just before Install in tab order; Space checks it, then Install.
    press "$form" shift+Tab space Tab Return
    # The post-install programs take three seconds each; the window answers meanwhile.
    "$wine" "$build/tests/window-answers.exe" || fail "the window did not answer during the update"
    ! grep -q ViewHost "$log" 2>/dev/null || fail "answered too late"
    dismiss "Zelvane updater"
    wait_for_exit
    cmp -s "$work/product/engine.exe" "$install/engine.exe" || fail "engine.exe was not updated"
    [[ "$(cat "$install/NavTree.ocx.registered")" == $'DllRegisterServer\r' &&
        "$(cut -f1 "$log" | tr '\n' ' ')" == "UnpackDirs.exe ViewHost.exe " ]] ||
        fail "NavTree.ocx not registered once, or not these post-install programs: $(cat "$log")"
}

# The command-line updater, started from the package folder; its output in $work/cli.txt.
cli() {
    (cd "$work/package" && ZELVANE_RECORD_LOG='C:\record.log' "$wine" \
        "$build/bin/zelvane-updater-cli.exe" --silent 'C:\Program Files\Zelvane' >"$work/cli.txt")
}

# The package of full_update while a program holds engine.exe without delete sharing: the
# command-line updater names it, changes nothing and exits with 4; once the program has let go,
# the same package installs.
files_in_use() {
    make_install
    local before status=0 held=""
    before="$(install_state)"
    coproc holder { "$wine" "$build/tests/hold-file.exe" 'C:\Program Files\Zelvane\engine.exe'; }
    local holder_in="${holder[1]}" holder_pid="$holder_PID"
    read -r -t 60 held <&"${holder[0]}" || true
    [[ $held == held* ]] || fail "engine.exe was not held"
    cli || status=$?
    ((status == 4)) && grep -q "These files are in use: engine.exe\." "$work/cli.txt" ||
        fail "with engine.exe in use: exit $status, $(cat "$work/cli.txt")"
    [[ "$(install_state)" == "$before" ]] || fail "the install changed while engine.exe was in use"
    exec {holder_in}>&-
    wait "$holder_pid" || fail "the program holding engine.exe failed"
    cli || fail "once engine.exe was free: $(cat "$work/cli.txt")"
    cmp -s "$work/product/engine.exe" "$install/engine.exe" || fail "engine.exe was not updated"
}

# The package of full_update signed on Linux by OpenSSL: the Windows build verifies it, and a
# package file changed after signing fails its entry, and so the update: nothing changes. The
# command-line updater runs from the package folder, as users are told to start it, among DLLs
# planted there under the names of DLLs that it or the system's DLLs load, which Wine is told to
# prefer there as Windows would: none may load. Wine's user32 loads imm32 by name once crypt32 brings it in. (It also loads
# version and uxtheme before a program runs a line, which Windows' does not, so the window is
# left out.)
signed_update() {
    make_install
    (cd "$work" && openssl ecparam -name prime256v1 -genkey -noout -out vendor.pem &&
        openssl pkey -in vendor.pem -pubout -out vendor.pub && openssl dgst -sha256 -sign \
        vendor.pem -out package/Package.manifest.sig package/Package.manifest) || fail "openssl"
    cp "$build/bin/zelvane-updater-cli.exe" "$work/package"
    local planted=(bcrypt crypt32 version uxtheme dwmapi cryptbase imm32)
    for dll in "${planted[@]}"; do cp "$build/tests/planted.dll" "$work/package/$dll.dll"; done
    local before
    for expected in 0 3; do
        local status=0
        before="$(install_state)"
        # A planted DLL that is called may crash the updater into Wine's debugger, which waits.
        (cd "$work/package" && WINEDLLOVERRIDES="$(IFS=,; echo "${planted[*]}")=n,b" timeout 120 \
            "$wine" zelvane-updater-cli.exe --silent --public-key ../vendor.pub \
            'C:\Program Files\Zelvane' >"$work/cli.txt") || status=$?
        ! compgen -G "$work/package/*.loaded" >/dev/null ||
            fail "planted DLLs were loaded: $(cd "$work/package" && echo *.loaded)"
        ((status == expected)) || fail "signed package: exit $status, $(cat "$work/cli.txt")"
        printf x >>"$work/package/file00000.bin"
    done
    grep -q "engine.exe: it does not match the package manifest" "$work/cli.txt" &&
        grep -q "Nothing was changed\." "$work/cli.txt" ||
        fail "the changed file: $(cat "$work/cli.txt")"
    [[ "$(install_state)" == "$before" ]] || fail "the damaged package changed the install"
    rm "$work/package/"*.dll "$work/package/zelvane-updater-cli.exe"
}

missing_ninth_marker() {
    make_install
    rm "$install/RippleShift_kf.exe"
    start_updater
    click "$form" 56 482  # Install
    dismiss "Zelvane updater"
    ! retry 5 ended || fail "the window closed after the not-found message"
    [[ "$(cat "$install/engine.exe")" == "version 3.0" && ! -e "$log" &&
        ! -e "$install/NavTree.ocx.registered" ]] || fail "something was changed or ran"
    cancel
}

# A list of 21 entries whose package file is missing: the window's failure list names each one,
# and nothing changes.
failure_list() {
    make_install
    local before
    before="$(install_state)"
    rm -rf "$work/package" && mkdir "$work/package"  # no manifest left by signed_update
    { echo 20; for i in $(seq 0 20); do echo "new$i.txt,missing.bin"; done; } >"$work/package/FileList.txt"
    start_updater
    click "$form" 56 482  # Install
    wait_window "Zelvane updater" >/dev/null
    "$wine" "$build/tests/window-answers.exe" failures >"$work/failures.txt" || fail "no failure list"
    (($(grep -c "^Cannot copy file new[0-9]*\.txt: " "$work/failures.txt") == 21)) ||
        fail "the failure list: $(cat "$work/failures.txt")"
    dismiss "Zelvane updater"
    [[ "$(install_state)" == "$before" ]] || fail "the failed update changed the install"
    cancel
}

# Fonts follow the DPI: the text is 1.5 times as tall, not the same size on a larger window.
at_144_dpi() {  # at_144_dpi CANCEL_TEXT_HEIGHT_AT_96_DPI
    export WINEPREFIX="$work/prefix"
    trap '/usr/lib/wine/wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
    "$wine" wineboot --init >/dev/null 2>&1
    "$wine" reg add 'HKEY_CURRENT_USER\Control Panel\Desktop' /v LogPixels /t REG_DWORD \
        /d 144 /f >/dev/null 2>&1
    dpi=144
    start_updater
    check_window 1064x750 0.03
    ((cancel_text * 10 >= $1 * 13 && cancel_text * 10 <= $1 * 17)) ||
        fail "Cancel's text is $cancel_text pixels tall at 144 DPI, $1 at 96 DPI"
    cancel
}

if (($# == 2)); then at_144_dpi "$2"; exit; fi
full_update
files_in_use
signed_update
missing_ninth_marker
failure_list
xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$build" "$cancel_text"
