#!/usr/bin/env bash
# The Windows disk path from SetupAPI to the bytes, under Wine: test builds of
# vela-update.exe and Updater.exe whose SetupAPI is the stand-in of
# setupapi_standin.cpp, so that the product's enumeration, its match of the
# interface path and its CreateFileW of "\\?\usbstor#..." all run. Wine opens
# "\\?\NAME" through the link dosdevices/NAME (lower case), so each calculator
# is a file behind a link named like its interface path:
#   - two calculators (serials 0001, 0002) beside lookalikes: another product
#     whose name begins alike, another vendor, a SCSI disk of the same name;
#   - vela-update install --json --yes, then Updater.exe FOLDER 1: every image
#     at its offset, the finish command in the control sector, exit 0;
#   - the traffic on each calculator, traced with strace as the reads, writes,
#     seeks and flushes Wine's ntdll makes on the file, equals
#     tests/device/file_traces.txt for each file, then the finish command; the
#     lookalikes are never even opened;
#   - a calculator swapped during the run (0002 leaves after its first write,
#     0003 arrives): nothing reaches 0003, and neither program reports success.
# Usage: setupapi_disks_test.sh <wine_run.sh> <Updater test exe> <vela-update
# test exe> <file_traces.txt>. Exit 77 (skipped) without strace.
set -uo pipefail
run=$1 updater=$2 tool=$3 golden=$4
command -v strace >/dev/null || { echo "strace is not installed (scripts/deps.sh test)"; exit 77; }

build=$(cd "$(dirname "$run")" && pwd)
work=$build/setupapi_disks
# A prefix of its own: its server is started under the trace, so the opens it
# makes are seen, and nothing of another test's programs meets these disks.
export WINEPREFIX=$build/wineprefix-disks WINEDEBUG=-all
rm -rf "$work"
mkdir -p "$work/firmware"
[ -f "$WINEPREFIX/system.reg" ] || "$run" wineboot --init >/dev/null 2>&1
wineserver -w

failed=0
fail() {
    echo "FAIL: $1${2:+ ($2)}"
    failed=1
}
pass() { echo "PASS: $1"; }
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# ------------------------------------------------------------ the disks

class='{53f56307-b6bf-11d0-94f2-00a0c91efb8b}'
declare -A iface
iface[calc1]="usbstor#disk&ven_orvane&prod_vela_update&rev_1.00#0001&0#$class"
iface[calc2]="usbstor#disk&ven_orvane&prod_vela_update&rev_1.00#0002&0#$class"
iface[calc3]="usbstor#disk&ven_orvane&prod_vela_update&rev_1.00#0003&0#$class"
iface[product2]="usbstor#disk&ven_orvane&prod_vela_update_2&rev_1.00#0004&0#$class"
iface[vendor]="usbstor#disk&ven_orvanx&prod_vela_update&rev_1.00#0005&0#$class"
iface[scsi]="scsi#disk&ven_orvane&prod_vela_update&rev_1.00#0006&0#$class"
disk_size=$((8 << 20))
links=()
for disk in "${!iface[@]}"; do
    truncate -s "$disk_size" "$work/$disk.img"
    link=$WINEPREFIX/dosdevices/${iface[$disk]}
    ln -sfn "$work/$disk.img" "$link"
    links+=("$link")
done
trap 'rm -f "${links[@]}"' EXIT
lookalikes=(product2 vendor scsi)

# The list the stand-in gives, one interface path per line as SetupAPI spells
# it; "after-write FILE" starts the list used once FILE has been written.
listing() { # disk... [after-write FILE disk...]
    local word
    for word in "$@"; do
        case $word in
        after-write) printf 'after-write ' ;;
        /*) winpath "$word" && echo ;;
        *) printf '\\\\?\\%s\n' "${iface[$word]}" ;;
        esac
    done
}

head -c 163840 /dev/urandom >"$work/firmware/VELA_APP.DAT" # ten whole chunks
head -c 17384 /dev/urandom >"$work/firmware/VELA_MAIN.DAT" # a short last chunk
head -c 16385 /dev/urandom >"$work/firmware/VELA_OS.ROM"   # one byte past a chunk
declare -A offset=([VELA_APP.DAT]=$((0x500000)) [VELA_MAIN.DAT]=$((0x100000)) [VELA_OS.ROM]=0)
firmware=$(winpath "$work/firmware")

blank() { # the disks given start from zeros again
    local disk
    for disk in "$@"; do
        rm -f "$work/$disk.img"
        truncate -s "$disk_size" "$work/$disk.img"
    done
}

# ------------------------------------------------------------ the trace

# Every path strace is told to watch: the links the server opens and the
# files behind them, whose descriptors the client reads and writes.
watch=()
for disk in "${!iface[@]}"; do
    watch+=(-P "$WINEPREFIX/dosdevices/${iface[$disk]}" -P "$work/$disk.img")
done

# strace -xx prints every string as \xHH, the paths behind descriptors too.
hexpath() { printf '%s' "$1" | od -An -v -tx1 | tr -d ' \n' | sed 's/../\\x&/g'; }
names="" linknames=""
for disk in "${!iface[@]}"; do
    names+="$(hexpath "$work/$disk.img")=$disk "
    linknames+="$(hexpath "$WINEPREFIX/dosdevices/${iface[$disk]}")=$disk "
done

traced() { # name program args...; the program's exit code goes to $code
    local name=$1
    shift
    wineserver -w
    # Wine's "file" channel traces the arguments of each CreateFileW.
    WINEDEBUG=-all,trace+file LC_ALL=C.UTF-8 UPDATER_TEST_DISK_LIST=$(winpath "$work/$name.list") \
        QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES="updater.*=true" \
        timeout 300 strace -f --seccomp-bpf -y -xx -s 20 -o "$work/$name.strace" \
        -e trace=openat,lseek,read,write,pread64,pwrite64,fsync,fdatasync "${watch[@]}" \
        "$run" "$@" >"$work/$name.out" 2>"$work/$name.err"
    code=$?
    # strace notes on stderr each watched link it resolved; the rest is the program's.
    sed -i '/^strace: Requested path /d' "$work/$name.err"
    # Out of time: strace has let go of the programs, which are ended here.
    if [ "$code" = 124 ]; then wineserver -k; fi
}

# One line per operation on a disk, "<disk> R|W|F|O <position> <length>", as
# file_traces.txt writes them: a write of a control record names its command,
# a failed operation ends in FAILED; "<disk> O <name>" is an open by the
# server, through the link of the disk <name> ("?" for any other). Positions
# follow each descriptor's seeks, reads and writes.
traffic() { # name
    # Through the environment: awk would read the \xHH of -v values as escapes.
    DISK_NAMES=$names LINK_NAMES=$linknames awk '
    function le32(b, at) { return b[at] + 256 * (b[at + 1] + 256 * (b[at + 2] + 256 * b[at + 3])) }
    BEGIN {
        n = split(ENVIRON["DISK_NAMES"], pairs, " ")
        for (i = 1; i <= n; i++) { split(pairs[i], kv, "="); disk[kv[1]] = kv[2] }
        n = split(ENVIRON["LINK_NAMES"], pairs, " ")
        for (i = 1; i <= n; i++) { split(pairs[i], kv, "="); link[kv[1]] = kv[2] }
        for (i = 0; i < 256; i++) value[sprintf("%02x", i)] = i
    }
    {
        # "PID  call(...) = result", the PID padded to a width of its own.
        pid = $1
        line = $0
        sub(/^[0-9]+ +/, "", line)
        if (line ~ /<unfinished \.\.\.>$/) {
            sub(/ *<unfinished \.\.\.>$/, "", line)
            pending[pid] = line
            next
        }
        if (line ~ /^<\.\.\. [a-z0-9_]+ resumed>/) {
            sub(/^<\.\.\. [a-z0-9_]+ resumed> ?/, "", line)
            line = pending[pid] line
            delete pending[pid]
        }
        call = substr(line, 1, index(line, "(") - 1)
        result = line
        sub(/.*\) += /, "", result)
        split(result, r, " ")
        ret = r[1] + 0
        failed = ret < 0 ? " FAILED" : ""
        if (call == "openat") {
            # The name opened: the link named like the interface path, or else.
            named = line
            sub(/^[^"]*"/, "", named)
            named = substr(named, 1, index(named, "\"") - 1)
            if (match(result, /<[^>]*>/) && (substr(result, RSTART + 1, RLENGTH - 2) in disk))
                print disk[substr(result, RSTART + 1, RLENGTH - 2)], "O", (named in link ? link[named] : "?")
            next
        }
        if (!match(line, /^[a-z0-9_]+\([0-9]+<[^>]*>/)) next
        head = substr(line, RSTART, RLENGTH)
        fd = substr(head, index(head, "(") + 1)
        path = substr(fd, index(fd, "<") + 1)
        path = substr(path, 1, length(path) - 1)
        fd = substr(fd, 1, index(fd, "<") - 1)
        if (!(path in disk)) next
        d = disk[path]
        args = line
        sub(/\) += -?[0-9].*$/, "", args)
        na = split(args, a, ", ")
        if (call == "lseek") { if (ret >= 0) at[fd] = ret; next }
        if (call == "fsync" || call == "fdatasync") { print d, "F 0 0" failed; next }
        if (call == "read" || call == "write") { len = a[na]; pos = at[fd] + 0 }
        else if (call == "pread64" || call == "pwrite64") { len = a[na - 1]; pos = a[na] }
        else next
        if (call == "read" || call == "write") at[fd] = pos + (ret > 0 ? ret : 0)
        label = ""
        if (call ~ /write/ && pos == 87040 && len == 512) {
            data = substr(line, index(line, ", \"") + 3)
            data = substr(data, 1, index(data, "\"") - 1)
            nb = split(data, hx, /\\x/)
            for (i = 2; i <= nb; i++) b[i - 2] = value[hx[i]]
            if (nb >= 21 && b[0] == 170 && b[1] == 85 && b[2] == 85 && b[3] == 170) {
                cmd = le32(b, 12)
                label = cmd == 48860 ? " PROGRESS " le32(b, 16) : cmd == 48833 ? " FINISH" : " COMMAND " cmd
            }
        }
        print d, (call ~ /read/ ? "R" : "W"), pos, len label failed
    }' "$work/$1.strace"
}

# What file_traces.txt says one file of this size at this offset does to a
# calculator, its data shifted from the 0x100000 it was recorded at. A disk
# made of a file never answers a progress report, so each report is made six
# times, as the transfer does for a calculator that does not answer.
expected_file() { # size offset
    awk -v size="$1" -v shift="$(($2 - 0x100000))" '
    /^== / { here = index($0, "(" size " bytes)") > 0; next }
    !here || /^#/ { next }
    {
        sub(/ *#.*/, "")
        if (NF == 0) next
        if ($1 == "W" && NF == 3) $2 += shift
        if ($4 == "PROGRESS") { report = $0; next }
        if (report != "") {
            for (i = 0; i < 6; i++) print report ORS $0
            report = ""
            next
        }
        print
    }' "$golden"
}

# A whole update of one calculator: each file in the order its data arrived
# (one that never arrived last), then the release, which reads the control
# area and writes the finish command.
expected_run() { # traffic of that disk
    local file
    for file in $(awk '$1 == "W" && NF == 3 {
            f = $2 >= 5242880 ? "VELA_APP.DAT" : $2 >= 1048576 ? "VELA_MAIN.DAT" : "VELA_OS.ROM"
            if (!(f in seen)) { seen[f] = 1; print f }
        }
        END { split("VELA_APP.DAT VELA_MAIN.DAT VELA_OS.ROM", all, " ")
              for (i = 1; i <= 3; i++) if (!(all[i] in seen)) print all[i] }' "$1"); do
        expected_file "$(stat -c %s "$work/firmware/$file")" "${offset[$file]}"
    done
    printf 'R 87040 15360\nW 87040 512 FINISH\n'
}

holds_update() { # disk: every image at its offset, the finish record in the control sector
    local file
    for file in VELA_APP.DAT VELA_MAIN.DAT VELA_OS.ROM; do
        cmp -s -n "$(stat -c %s "$work/firmware/$file")" -i "0:${offset[$file]}" \
            "$work/firmware/$file" "$work/$1.img" || return 1
    done
    [ "$(od -An -tx1 -j $((87040 + 12)) -N 4 "$work/$1.img" | tr -d ' \n')" = c1be0000 ]
}

untouched() { # name disk: still zeros, and no operation at all on it in the trace
    cmp -s -n "$disk_size" "$work/$2.img" /dev/zero && ! grep -q "^$2 " "$work/$1.traffic"
}

# Every CreateFileW of the disk's interface path (Wine's trace of its
# arguments) asks for reading and writing, shared, an existing device,
# unbuffered write-through random access, or, for the run's hold on the
# calculator, for nothing but queries; and the server opened the file
# through the link of that path, never by another name.
opened_as_calculator() { # name disk
    local calls want opens
    calls=$(grep -aF "$(printf 'CreateFileW L"\\\\\\\\?\\\\%s"' "${iface[$2]}")" "$work/$1.err" |
        sed 's/^[0-9a-f]*://')
    want=$(printf 'trace:file:CreateFileW L"\\\\\\\\?\\\\%s" %s  creation 3 attributes 0xb0000000\n' \
        "${iface[$2]}" "GENERIC_READ GENERIC_WRITE FILE_SHARE_READ FILE_SHARE_WRITE"
        printf 'trace:file:CreateFileW L"\\\\\\\\?\\\\%s" %s  creation 3 attributes 0x0' \
        "${iface[$2]}" "QUERY_ACCESS FILE_SHARE_READ FILE_SHARE_WRITE FILE_SHARE_DELETE")
    opens=$(grep "^$2 O " "$work/$1.traffic")
    [ -n "$calls" ] && ! grep -qvxF -f <(printf '%s\n' "$want") <<<"$calls" &&
        [ -n "$opens" ] && ! grep -qvx "$2 O $2" <<<"$opens"
}

check_whole_run() { # name program
    local disk
    traffic "$1" >"$work/$1.traffic"
    for disk in calc1 calc2; do
        if holds_update "$disk"; then
            pass "$2: $disk holds every image at its offset and the finish record"
        else
            fail "$2: $disk holds every image at its offset and the finish record"
        fi
        grep "^$disk [RWF] " "$work/$1.traffic" | cut -d' ' -f2- >"$work/$1.$disk.trace"
        expected_run "$work/$1.$disk.trace" >"$work/$1.$disk.expected"
        if [ -s "$work/$1.$disk.trace" ] &&
            diff -u "$work/$1.$disk.expected" "$work/$1.$disk.trace" >"$work/$1.$disk.diff"; then
            pass "$2: the traffic on $disk is the golden trace of each file, then the finish command"
        else
            fail "$2: the traffic on $disk is the golden trace of each file, then the finish command"
            head -n 40 "$work/$1.$disk.diff"
        fi
        if opened_as_calculator "$1" "$disk"; then
            pass "$2: $disk was opened as the calculator, by its interface path alone"
        else
            fail "$2: $disk was opened as the calculator, by its interface path alone"
        fi
    done
    for disk in "${lookalikes[@]}"; do
        if untouched "$1" "$disk"; then
            pass "$2: the lookalike $disk is never opened and stays unchanged"
        else
            fail "$2: the lookalike $disk is never opened and stays unchanged"
        fi
    done
    if grep -q 'never destroyed' "$work/$1.err"; then
        fail "$2: every device information set is destroyed"
    fi
}

# ------------------------------------------------------------ vela-update

listing calc1 product2 calc2 vendor scsi >"$work/cli.list"
traced cli "$tool" install "$firmware" --json --yes
summary=$(tr -d '\r' <"$work/cli.out" | tail -n1)
if [ "$code" = 0 ] && [ "$summary" = '{"event":"summary","ok":true,"calculators":[{"calculator":"0001","files":3,"ok":true,"result":0},{"calculator":"0002","files":3,"ok":true,"result":0}]}' ]; then
    pass "vela-update install: exit 0, both calculators ok in the summary"
else
    fail "vela-update install: exit 0, both calculators ok in the summary"
    echo "exit $code; last line: $summary"
    tail -n 20 "$work/cli.err"
fi
check_whole_run cli vela-update

# ------------------------------------------------------------ Updater.exe

# Two calculators: "Done", and the window stays with the list of which holds
# what until the user closes it (here: until it is ended, 5 s after Done).
# The window in the background until its diagnostics say what is looked for
# (or it ends): the job in $job, its exit code, if it ended, in $ended_early.
window_until() { # name pattern
    (
        traced "$1" "$updater" "$firmware" 1
        echo "$code" >"$work/$1.code"
    ) &
    job=$!
    for _ in $(seq 1 600); do
        grep -q "$2" "$work/$1.err" 2>/dev/null && break
        kill -0 "$job" 2>/dev/null || break
        sleep 0.5
    done
    ended_early=$([ -f "$work/$1.code" ] && cat "$work/$1.code")
}

blank calc1 calc2
listing calc1 product2 calc2 vendor scsi >"$work/dialog.list"
released="the run's release ended with 0"
window_until dialog "$released"
sleep 5
[ -n "$ended_early" ] || ended_early=$([ -f "$work/dialog.code" ] && cat "$work/dialog.code")
if grep -q "the run ends: Done" "$work/dialog.err" && grep -q "$released" "$work/dialog.err" &&
    [ -z "$ended_early" ]; then
    pass "Updater.exe: Done, and the window stays with the list"
else
    fail "Updater.exe: Done, and the window stays with the list" "exit ${ended_early:-none}"
    tail -n 20 "$work/dialog.err"
fi
wineserver -k
wait "$job"
check_whole_run dialog Updater.exe

# ------------------------------------------------------------ swapped mid-run

# 0002 leaves once its first write has landed, and 0003 arrives.
swap_list() {
    listing calc1 calc2 product2 after-write "$work/calc2.img" calc1 calc3 product2
}

blank calc1 calc2 calc3
swap_list >"$work/cli_swap.list"
traced cli_swap "$tool" install "$firmware" --json --yes --wait 2
traffic cli_swap >"$work/cli_swap.traffic"
if [ "$code" = 4 ]; then
    pass "vela-update, 0002 swapped for 0003: exit 4"
else
    fail "vela-update, 0002 swapped for 0003: exit 4" "exit $code"
fi
if untouched cli_swap calc3 && untouched cli_swap product2; then
    pass "vela-update, 0002 swapped for 0003: nothing reaches 0003 nor the lookalike"
else
    fail "vela-update, 0002 swapped for 0003: nothing reaches 0003 nor the lookalike"
fi
if holds_update calc1; then
    pass "vela-update, 0002 swapped for 0003: 0001 is updated all the same"
else
    fail "vela-update, 0002 swapped for 0003: 0001 is updated all the same"
fi
if tr -d '\r' <"$work/cli_swap.out" | tail -n1 |
    grep -q '"calculator":"0002","files":[0-2],"ok":false,"result":104'; then
    pass "vela-update, 0002 swapped for 0003: the summary has 0002 failed with 104"
else
    fail "vela-update, 0002 swapped for 0003: the summary has 0002 failed with 104"
fi

# The dialog waits for 0002 to come back and never writes on to 0001 alone,
# let alone to 0003: it is ended once it says so, and must not have ended by
# itself.
blank calc1 calc2 calc3
swap_list >"$work/dialog_swap.list"
waiting='waiting for calculators of the run that left: serial 0002'
window_until dialog_swap "$waiting"
if grep -q "$waiting" "$work/dialog_swap.err" && [ -z "$ended_early" ]; then
    pass "Updater.exe, 0002 swapped for 0003: the window waits for 0002, no Done"
else
    fail "Updater.exe, 0002 swapped for 0003: the window waits for 0002, no Done" \
        "exit ${ended_early:-none}; see $work/dialog_swap.err"
fi
wineserver -k
wait "$job"
traffic dialog_swap >"$work/dialog_swap.traffic"
if untouched dialog_swap calc3 && untouched dialog_swap product2; then
    pass "Updater.exe, 0002 swapped for 0003: nothing reaches 0003 nor the lookalike"
else
    fail "Updater.exe, 0002 swapped for 0003: nothing reaches 0003 nor the lookalike"
fi

wineserver -w
exit $failed
