#!/usr/bin/env bash
# Cross-builds the Windows application (scripts/build_windows.sh) and checks
# Updater.exe under Wine:
#   - the executable itself: GUI subsystem, no mingw or Qt DLLs, the version
#     resource and the manifest;
#   - under Xvfb with Qt's windows platform: it starts and shows its dialog,
#     stays up, and ends with exit code 0 when its window gets WM_CLOSE
#     (sent by Wine's taskkill, as a user's close button would);
#   - the single-instance guard between two Windows processes, and the second
#     start's request that the first come forward;
#   - language 8 gives the window the title of the shipped Japanese module;
#   - with the virtual calculator, a whole update ends with exit code 0 and
#     leaves the three images on the calculator;
#   - vela-update.exe: a console program without DLLs; list and install
#     against the virtual calculator, with their exit codes (0, 3, 4);
#   - the Qt Test and device test executables, through CTest, which runs them
#     under Wine; among them setupapi_disks_test, both programs from SetupAPI
#     to the bytes on calculators made of files (tests/windows/);
#   - the installer (scripts/package.sh windows): a silent install puts
#     Updater.exe with resource/, icons/, LICENSE.txt and the third-party
#     notices under Program Files, a Start-menu shortcut and an Add/Remove
#     Programs entry; the installed Updater.exe shows its dialog in Japanese;
#     a silent uninstall leaves nothing behind.
# Prints one line per check and closes with "N passed, N failed"; exits
# non-zero when a check failed. When the Windows build cannot be made here
# (no static Qt archive, no mingw-w64, no Wine or Xvfb) it says so and exits
# 0, or 1 with UPDATER_REQUIRE_WINDOWS=1.
#
# Environment: UPDATER_WIN_BUILD_DIR (default build-winapp),
# UPDATER_WINE_CTEST_EXCLUDE (a CTest -E pattern for tests that cannot run
# under Wine).
set -uo pipefail
cd "$(dirname "$0")/.."

skip() {
    echo "SKIP: Windows application tests: $1"
    [ "${UPDATER_REQUIRE_WINDOWS:-0}" = 1 ] && exit 1
    exit 0
}

if [ "${1:-}" != --under-x ]; then
    for tool in wine xvfb-run xwininfo xprop import x86_64-w64-mingw32-objdump flock; do
        command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/deps.sh)"
    done
    status=0
    scripts/build_windows.sh || status=$?
    [ $status -eq 77 ] && skip "the Windows build cannot be made on this machine"
    if [ $status -ne 0 ]; then
        echo "FAIL: cross-build of Updater.exe"
        echo "0 passed, 1 failed"
        exit 1
    fi
fi

. scripts/set_layout.sh
build=$(cd "${UPDATER_WIN_BUILD_DIR:-build-winapp}" && pwd)
exe=$build/app/Updater.exe
run=$build/wine_run.sh
work=$build/wintest
results=$work/results
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all

pass() {
    echo "PASS: $1"
    echo pass >>"$results"
}
fail() {
    echo "FAIL: $1${2:+ ($2)}"
    echo fail >>"$results"
}
check() { # name command...
    local name=$1
    shift
    if "$@"; then pass "$name"; else fail "$name"; fi
}

# A Windows path for a Linux one, as Wine maps the root to drive Z:.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# ---------------------------------------------------------------- under Xvfb

# Visible top-level windows of one process. Wine marks each X window with the
# Unix process id of its Windows process, which is the id of our background job.
windows_of() {
    local id
    for id in $(xwininfo -root -children | awk '/^ +0x/ {print $1}'); do
        xprop -id "$id" _NET_WM_PID 2>/dev/null | grep -q "= $1\$" || continue
        xwininfo -id "$id" 2>/dev/null | grep -q IsViewable && echo "$id"
    done
}

wait_for_window() { # pid seconds
    local i
    for ((i = 0; i < $2 * 2; i++)); do
        [ -n "$(windows_of "$1")" ] && return 0
        kill -0 "$1" 2>/dev/null || return 1
        sleep 0.5
    done
    return 1
}

# Waits for a background job to end; its exit code goes to $ended_code.
# Fails (and ends the job) when it is still running after the given seconds.
wait_for_end() { # pid seconds
    local i
    for ((i = 0; i < $2 * 2; i++)); do
        if ! kill -0 "$1" 2>/dev/null; then
            wait "$1"
            ended_code=$?
            return 0
        fi
        sleep 0.5
    done
    end_job "$1"
    ended_code=timeout
    return 1
}

# Ends a background job that is no longer wanted and reaps it.
end_job() { # pid
    kill "$1" 2>/dev/null
    wait "$1" 2>/dev/null
}

# WM_CLOSE to every top-level window of Updater.exe, like the close button.
close_updater() {
    "$run" taskkill /im Updater.exe >/dev/null 2>&1
}

start_updater() { # log args...; sets $updater_pid
    local log=$1
    shift
    "$run" "$exe" "$@" >"$log" 2>&1 &
    updater_pid=$!
}

under_x() {
    local empty first second third crashed
    empty=$(winpath "$work/empty")

    # Start, show, stay up, close. The log tells when it is asked to come forward.
    QT_LOGGING_RULES=updater.ui=true start_updater "$work/first.log" "$empty" 1
    first=$updater_pid
    if wait_for_window "$first" 60; then
        pass "Updater.exe starts and shows its dialog"
        # Wine maps the window before it paints it: wait until the picture
        # holds more than the black root window (a few hundred bytes as PNG).
        for _ in $(seq 1 30); do
            sleep 1
            import -window root "$work/no_updates.png"
            [ "$(stat -c %s "$work/no_updates.png")" -gt 2000 ] && break
        done
        check "Updater.exe stays up with an empty firmware folder" kill -0 "$first"

        # Single instance: a second start asks the first to come forward,
        # for a second at most, and ends with 0, showing nothing of its own.
        start_updater "$work/second.log" "$empty" 1
        second=$updater_pid
        if wait_for_end "$second" 10 && [ "$ended_code" = 0 ]; then
            pass "a second instance exits 0 while the first runs"
        else
            fail "a second instance exits 0 while the first runs" "exit $ended_code"
        fi
        for _ in $(seq 1 20); do grep -q "another start asked" "$work/first.log" && break; sleep 0.5; done
        check "the first instance is asked to come forward" grep -q "another start asked" "$work/first.log"
        check "the first instance keeps running after the second start" kill -0 "$first"
        if [ "$(windows_of "$first" | wc -l)" -ge 1 ]; then
            pass "the first instance keeps its window"
        else
            fail "the first instance keeps its window"
        fi

        close_updater
        if wait_for_end "$first" 30 && [ "$ended_code" = 0 ]; then
            pass "closing the window ends Updater.exe with exit code 0"
        else
            fail "closing the window ends Updater.exe with exit code 0" "exit $ended_code"
        fi
    else
        fail "Updater.exe starts and shows its dialog" "see $work/first.log"
        end_job "$first"
    fi

    # Once the first instance has ended, a new start succeeds.
    start_updater "$work/third.log" "$empty" 1
    third=$updater_pid
    if wait_for_window "$third" 60; then
        pass "a new start succeeds after the first instance ended"
        close_updater
        wait_for_end "$third" 30
    else
        fail "a new start succeeds after the first instance ended"
        end_job "$third"
    fi

    # A crash must not lock the user out: the system frees the guard when the
    # process that held it dies.
    start_updater "$work/crashed.log" "$empty" 1
    crashed=$updater_pid
    if wait_for_window "$crashed" 60; then
        kill -KILL "$crashed"
        wait "$crashed" 2>/dev/null
        start_updater "$work/after_crash.log" "$empty" 1
        third=$updater_pid
        if wait_for_window "$third" 60; then
            pass "a new start succeeds after the first instance was killed"
        else
            fail "a new start succeeds after the first instance was killed"
        fi
        close_updater
        wait_for_end "$third" 30
    else
        fail "a new start succeeds after the first instance was killed" "no first window"
        end_job "$crashed"
    fi
}

# The window title of a language, read from the shipped string module by the
# Windows build of resmod; the dialog must show the same text.
language_title() { # language
    "$run" "$build/tools/resmod/resmod.exe" get --dir "$(winpath "$build/app/resource")" \
        "$1" 0x277 2>/dev/null | tr -d '\r\n'
}

under_x_language() {
    local pid shown
    start_updater "$work/japanese.log" "$(winpath "$work/empty")" 8
    pid=$updater_pid
    if wait_for_window "$pid" 60; then
        shown=$(xprop -id "$(windows_of "$pid" | head -n1)" _NET_WM_NAME |
            sed -n 's/^_NET_WM_NAME([A-Z0-9_]*) = "\(.*\)"$/\1/p')
        if [ -n "$UPDATER_TEST_JA_TITLE" ] && [ "$shown" = "$UPDATER_TEST_JA_TITLE" ]; then
            pass "language 8 gives the window its Japanese title"
        else
            fail "language 8 gives the window its Japanese title" \
                "shown \"$shown\", module \"$UPDATER_TEST_JA_TITLE\""
        fi
        close_updater
        wait_for_end "$pid" 30
    else
        fail "language 8 gives the window its Japanese title" "no window"
        end_job "$pid"
    fi
}

# The installed program finds its string modules beside it: its title is
# the Japanese one.
under_x_installed() {
    local pid shown
    [ -n "${UPDATER_TEST_INSTALLED_EXE:-}" ] || return 0
    "$run" "$UPDATER_TEST_INSTALLED_EXE" "$(winpath "$work/empty")" 8 >"$work/installed.log" 2>&1 &
    pid=$!
    if wait_for_window "$pid" 60; then
        shown=$(xprop -id "$(windows_of "$pid" | head -n1)" _NET_WM_NAME |
            sed -n 's/^_NET_WM_NAME([A-Z0-9_]*) = "\(.*\)"$/\1/p')
        if [ -n "$UPDATER_TEST_JA_TITLE" ] && [ "$shown" = "$UPDATER_TEST_JA_TITLE" ]; then
            pass "the installed Updater.exe shows its dialog, with its string modules"
        else
            fail "the installed Updater.exe shows its dialog, with its string modules" \
                "shown \"$shown\", module \"$UPDATER_TEST_JA_TITLE\""
        fi
        close_updater
        wait_for_end "$pid" 30
    else
        fail "the installed Updater.exe shows its dialog, with its string modules" "no window"
        end_job "$pid"
    fi
}

if [ "${1:-}" = --under-x ]; then
    under_x_language
    under_x
    under_x_installed
    exit 0
fi

# ------------------------------------------------------------------ outside

rm -rf "$work"
mkdir -p "$work/empty"
: >"$results"

# The executable as Windows sees it.
headers=$(x86_64-w64-mingw32-objdump -p "$exe")
if grep -q 'Subsystem.*(Windows GUI)' <<<"$headers"; then
    pass "Updater.exe is a GUI subsystem program"
else
    fail "Updater.exe is a GUI subsystem program"
fi
foreign=$(grep 'DLL Name:' <<<"$headers" | grep -iE 'lib[a-z_0-9-]*\.dll|qt5|mingw|pthread')
if [ -z "$foreign" ]; then
    pass "Updater.exe needs no mingw or Qt DLLs"
else
    fail "Updater.exe needs no mingw or Qt DLLs" "$(echo $foreign)"
fi
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt").0
strings_el=$(strings -el "$exe")
while IFS='|' read -r key value; do
    if grep -A1 -x "$key" <<<"$strings_el" | tail -n1 | grep -qxF "$value"; then
        pass "version resource: $key is \"$value\""
    else
        fail "version resource: $key is \"$value\""
    fi
done <<EOF
FileDescription|Updater Utility
OriginalFilename|Updater.exe
ProductName|Updater
FileVersion|$version
ProductVersion|$version
EOF
if grep -q 'Entry: ID: 0x000018' <<<"$headers" &&
    grep -aq 'requestedExecutionLevel level="asInvoker"' "$exe"; then
    pass "the embedded manifest asks for execution level asInvoker"
else
    fail "the embedded manifest asks for execution level asInvoker"
fi

# A fresh prefix takes a while to create; the first Windows program run here
# makes it, before anything is timed.
UPDATER_TEST_JA_TITLE=$(language_title 8)
export UPDATER_TEST_JA_TITLE

# The installer, silently, as an administrator's deployment runs it. Wine's
# menu builder would copy the shortcut into this machine's own menus: off.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
product="Vela Firmware Updater"
installed="$WINEPREFIX/drive_c/Program Files/Orvane/$product"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/$product.lnk"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VelaFirmwareUpdater'
setup=$build/VelaUpdaterSetup-${version%.0}.exe
registry_value() { # name
    "$run" reg query "$uninstall_key" /v "$1" 2>/dev/null | tr -d '\r' |
        sed -n "s/^ *$1 *REG_[A-Z_]* *//p"
}
if scripts/package.sh windows "$build" >"$work/installer.log" 2>&1 && [ -f "$setup" ]; then
    pass "makensis builds $(basename "$setup")"
    check "the installer's manifest asks for elevation (requireAdministrator)" \
        grep -aq 'requestedExecutionLevel level="requireAdministrator"' "$setup"
    "$run" "$setup" /S >"$work/install.log" 2>&1
    code=$?
    timeout 60 wineserver -w
    if [ $code = 0 ]; then pass "the installer runs silently (/S)"; else fail "the installer runs silently (/S)" "exit $code"; fi
    check "installed: Updater.exe under Program Files" test -f "$installed/Updater.exe"
    check "installed: the eight string modules in resource/" \
        test "$(find "$installed/resource" -name '*.orvaneresource' 2>/dev/null | wc -l)" -eq 8
    check "installed: icons/" test -f "$installed/icons/varFolder_16x16.png"
    check "installed: vela-update.exe beside Updater.exe" test -f "$installed/vela-update.exe"
    check "installed: LICENSE.txt and THIRD-PARTY-NOTICES.txt beside the programs" \
        test -f "$installed/LICENSE.txt" -a -f "$installed/THIRD-PARTY-NOTICES.txt"
    check "installed: the uninstaller" test -f "$installed/Uninstall.exe"
    if grep -aq 'Updater.exe' "$shortcut" 2>/dev/null; then
        pass "installed: a Start-menu shortcut to Updater.exe"
    else
        fail "installed: a Start-menu shortcut to Updater.exe"
    fi
    while IFS='|' read -r name value; do
        got=$(registry_value "$name")
        if [ "$got" = "$value" ]; then
            pass "Add/Remove Programs: $name is \"$value\""
        else
            fail "Add/Remove Programs: $name is \"$value\"" "found \"$got\""
        fi
    done <<EOF2
DisplayName|$product
DisplayVersion|${version%.0}
Publisher|Orvane
DisplayIcon|C:\\Program Files\\Orvane\\$product\\Updater.exe,0
QuietUninstallString|"C:\\Program Files\\Orvane\\$product\\Uninstall.exe" /S
EOF2
    export UPDATER_TEST_INSTALLED_EXE="C:\\Program Files\\Orvane\\$product\\Updater.exe"
else
    fail "makensis builds $(basename "$setup")" "see $work/installer.log"
fi
# Wine's desktop process picks its display driver when the first program of a
# session starts; the session must end so that the next one starts under Xvfb.
timeout 30 wineserver -w

xvfb-run -a -s "-screen 0 1024x768x24" "$0" --under-x

# The uninstaller, silently: nothing of the program may stay behind.
if [ -n "${UPDATER_TEST_INSTALLED_EXE:-}" ]; then
    "$run" "C:\\Program Files\\Orvane\\$product\\Uninstall.exe" /S >"$work/uninstall.log" 2>&1
    code=$?
    # The uninstaller runs on from a copy of itself: wait for it to end.
    timeout 60 wineserver -w
    if [ $code = 0 ]; then pass "the uninstaller runs silently (/S)"; else fail "the uninstaller runs silently (/S)" "exit $code"; fi
    check "uninstalled: no program folder (nor an empty Orvane folder)" \
        test ! -e "$WINEPREFIX/drive_c/Program Files/Orvane"
    check "uninstalled: no Start-menu shortcut" test ! -e "$shortcut"
    if "$run" reg query "$uninstall_key" >/dev/null 2>&1; then
        fail "uninstalled: no Add/Remove Programs entry"
    else
        pass "uninstalled: no Add/Remove Programs entry"
    fi
fi

# A whole update against the virtual calculator, headless.
if grep -aq UPDATER_VIRTUAL_CALCULATOR "$exe" ||
    strings -el "$exe" | grep -q UPDATER_VIRTUAL_CALCULATOR; then
    # A space and Japanese in the folder name: the path must survive the
    # command line, Qt and the device layer's wide-character calls.
    fw="$work/Firmware ファーム"
    calc=$work/calculator
    mkdir -p "$fw" "$calc"
    # Sizes that end mid-chunk and mid-sector, so that padding shows.
    head -c 70000 /dev/urandom >"$fw/VELA_APP.DAT"
    head -c 40000 /dev/urandom >"$fw/VELA_MAIN.DAT"
    head -c 33333 /dev/urandom >"$fw/VELA_OS.ROM"
    # Where each image belongs, as the Windows tool's check says.
    layout=$(set_layout env LC_ALL=C.UTF-8 "$run" "$build/app/vela-update.exe" "$(winpath "$fw")")
    # Wine turns the Unix arguments into UTF-16 by the locale's character set.
    LC_ALL=C.UTF-8 UPDATER_VIRTUAL_CALCULATOR="dir=$(winpath "$calc")" \
        QT_QPA_PLATFORM=offscreen timeout 120 "$run" "$exe" "$(winpath "$fw")" 1 >"$work/update.log" 2>&1
    code=$?
    if [ $code = 0 ]; then
        pass "an update with the virtual calculator ends with exit code 0"
    else
        fail "an update with the virtual calculator ends with exit code 0" "exit $code"
    fi
    while read -r name offset size; do
        if [ -f "$calc/unit0.img" ] &&
            cmp -s -n "$size" -i "0:$offset" "$fw/$name" "$calc/unit0.img"; then
            pass "the calculator holds $name at $offset"
        else
            fail "the calculator holds $name at $offset"
        fi
    done <<<"$layout"
    if grep -q "FINISH" "$calc/unit0.trace" 2>/dev/null; then
        pass "the calculator received the finish command"
    else
        fail "the calculator received the finish command"
    fi
else
    echo "SKIP: update with the virtual calculator (this build has none yet)"
fi

# vela-update.exe: a console program, against the virtual calculator.
cli=$build/app/vela-update.exe
cli_headers=$(x86_64-w64-mingw32-objdump -p "$cli" 2>/dev/null)
check "vela-update.exe is a console subsystem program" grep -q 'Subsystem.*(Windows CUI)' <<<"$cli_headers"
if grep 'DLL Name:' <<<"$cli_headers" | grep -qiE 'lib[a-z_0-9-]*\.dll|qt5|mingw|pthread'; then
    fail "vela-update.exe needs no mingw or Qt DLLs"
else
    pass "vela-update.exe needs no mingw or Qt DLLs"
fi
UPDATER_VIRTUAL_CALCULATOR="units=2,unopenable=1" timeout 60 "$run" "$cli" list \
    >"$work/cli_list.log" 2>&1
code=$?
listed=$(tr -d '\r' <"$work/cli_list.log")
if [ $code = 0 ] && [ "$(grep -c '^0000000[01]  ' <<<"$listed")" = 2 ] &&
    grep -q '^00000001  .*cannot be opened for writing: Access is denied\.$' <<<"$listed"; then
    pass "vela-update.exe list: both calculators, exit 0, and why one cannot be written"
else
    fail "vela-update.exe list: both calculators, exit 0, and why one cannot be written" \
        "exit $code, see $work/cli_list.log"
fi
UPDATER_VIRTUAL_CALCULATOR="absent=1" timeout 60 "$run" "$cli" list >/dev/null 2>&1
code=$?
if [ $code = 3 ]; then
    pass "vela-update.exe list: exit 3 without a calculator"
else
    fail "vela-update.exe list: exit 3 without a calculator" "exit $code"
fi
if [ -n "${fw:-}" ]; then
    # Two calculators written whole (exit 0); then one of them refusing writes
    # fails alone (exit 4, after its five retries).
    while read -r label options expected; do
        calc2=$work/cli_$label
        mkdir -p "$calc2"
        LC_ALL=C.UTF-8 UPDATER_VIRTUAL_CALCULATOR="$options,dir=$(winpath "$calc2")" timeout 180 \
            "$run" "$cli" install "$(winpath "$fw")" --json --yes \
            >"$work/cli_$label.log" 2>"$work/cli_$label.err"
        code=$?
        last=$(tr -d '\r' <"$work/cli_$label.log" | tail -n1)
        if [ $code = "$expected" ] && grep -q '^{"event":"summary"' <<<"$last"; then
            pass "vela-update.exe install ($label): exit $expected, the summary last"
        else
            fail "vela-update.exe install ($label): exit $expected, the summary last" \
                "exit $code, see $work/cli_$label.log"
        fi
        for unit in 0 1; do
            holds=1
            while read -r name offset size; do
                cmp -s -n "$size" -i "0:$offset" "$fw/$name" "$calc2/unit$unit.img" || holds=0
            done <<<"$layout"
            want=1
            [ "$label" = refused ] && [ $unit = 1 ] && want=0
            what=$([ $want = 1 ] && echo "holds every image" || echo "does not hold them all")
            if [ $holds = $want ]; then
                pass "vela-update.exe install ($label): unit $unit $what"
            else
                fail "vela-update.exe install ($label): unit $unit $what"
            fi
        done
    done <<EOF
two units=2 0
refused units=2,refuse_write_at=1048576,refuse_unit=1 4
EOF
fi

# The test executables of tests/, each run under Wine by CTest.
ctest_log=$work/ctest.log
ctest --test-dir "$build" -j2 --output-on-failure --timeout 300 \
    ${UPDATER_WINE_CTEST_EXCLUDE:+-E "$UPDATER_WINE_CTEST_EXCLUDE"} >"$ctest_log" 2>&1
summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$ctest_log")
if [ -n "$summary" ]; then
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
    bad=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$summary")
    for ((i = 0; i < total - bad; i++)); do echo pass >>"$results"; done
    for ((i = 0; i < bad; i++)); do echo fail >>"$results"; done
    echo "CTest under Wine: $summary"
    [ "$bad" -gt 0 ] && grep -E '^[[:space:]]+[0-9]+ - ' "$ctest_log" | sed 's/^/FAIL: ctest /'
else
    echo "CTest under Wine: no tests"
fi

# Nothing of ours may linger in the prefix.
timeout 30 wineserver -w

passed=$(grep -c pass "$results")
failed=$(grep -c fail "$results")
echo "Screenshot of the dialog: $work/no_updates.png"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
