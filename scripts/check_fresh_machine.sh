#!/usr/bin/env bash
# Proves the README on a fresh machine: a minimal Debian 12 root
# (debootstrap --variant=minbase), the repository's committed HEAD cloned into
# it with ../shared beside it, and in a chroot:
#   1. the run command, headless, against the virtual calculator: it installs
#      what it needs, builds the two programs and no test, updates the
#      calculator and ends by itself;
#   2. the test command with UPDATER_TEST_QUICK=1;
#   3. scripts/package.sh;
#   4. in a second, untouched minimal root: apt-get install of that .deb, the
#      installed updater started offscreen with an empty folder until its
#      window is exposed, the files, menu entry and udev rule in place, and
#      apt-get remove taking them away again.
# Prints one line per check and ends with a summary line; exits non-zero when a
# check failed.
#
# Runs as root. The mirror is the one of this machine's own apt sources. The
# chroots live in a private mount, IPC and PID namespace: their mounts vanish
# with it, an updater inside never meets one outside through the single-
# instance guard, and nothing started inside outlives the check. Each root is
# a mount point of its own there, so what runs inside can make private mount
# namespaces too. Where the check cannot run (no root, no private mount
# namespace, no debootstrap, no mirror) it says why in one sentence and exits
# 1; with --can-run it only says so, or nothing (exit 0) when it can. The minimal
# root and the downloaded packages are cached in UPDATER_FRESH_CACHE (default
# /var/cache/vela-updater-fresh-machine); without a cache it starts from
# nothing. The roots and logs are kept in build-fresh/ for a look after a
# failure.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
work=$repo/build-fresh
cache=${UPDATER_FRESH_CACHE:-/var/cache/vela-updater-fresh-machine}
suite=bookworm
# Where the repository and ../shared sit inside the root.
home=/opt/vela

# ------------------------------------------------------------- inside the namespaces

in_root() { # root log command
    local root=$1 log=$2
    shift 2
    # A login-like environment: nothing of this machine's leaks in.
    chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        ${http_proxy:+http_proxy=$http_proxy} ${https_proxy:+https_proxy=$https_proxy} \
        bash -c "$*" >>"$log" 2>&1
}

mounted=()
mount_into() { # root
    local root=$1
    # The root folder bound onto itself is a mount point of its own, as a
    # machine's / is: what runs in the chroot can then make private mount
    # namespaces of its own (unshare makes / private first, which the kernel
    # refuses for a folder that is not a mount point).
    mount --bind "$root" "$root"
    mounted+=("$root")
    mkdir -p "$root/dev/pts" "$root/dev/shm"
    mount -t proc proc "$root/proc"
    mounted+=("$root/proc")
    mount -t sysfs -o ro sysfs "$root/sys"
    mounted+=("$root/sys")
    mount -t devpts -o newinstance,ptmxmode=0666 devpts "$root/dev/pts"
    mounted+=("$root/dev/pts")
    mount -t tmpfs tmpfs "$root/dev/shm"
    mounted+=("$root/dev/shm")
    mount --bind "$cache/archives" "$root/var/cache/apt/archives"
    mounted+=("$root/var/cache/apt/archives")
}
unmount_all() {
    local i
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" 2>/dev/null || true
    done
    mounted=()
}

results=$work/results
pass() { echo "PASS: $1" | tee -a "$results"; }
fail() { echo "FAIL: $1${2:+ ($2)}" | tee -a "$results"; }
check() { # name command...
    local name=$1
    shift
    if "$@"; then pass "$name"; else fail "$name"; fi
}
timed() { # name seconds
    printf '%s %d:%02d\n' "$1" $(($2 / 60)) $(($2 % 60)) >>"$work/times"
}
# The programs of a build tree, CMake's own probes left out: the ELF files that
# may be run, one path a line from the top of the tree.
built_programs() { # build tree
    local file
    (cd "$1" && find . -path ./CMakeFiles -prune -o -type f -perm -u+x -print) | sort |
        while read -r file; do
            [ "$(head -c 4 "$1/$file" | tr -d '\177')" = ELF ] && echo "${file#./}"
        done
    return 0
}
# The run command builds the two programs, and resmod for their string
# modules: none of the test command's tests and benchmarks.
only_the_programs() { # build tree
    local extra
    extra=$(built_programs "$1" | grep -vxE 'app/Updater|app/vela-update|tools/resmod/resmod' || true)
    [ -z "$extra" ] && return 0
    echo "built besides the programs: ${extra//$'\n'/ }"
    return 1
}

inside() {
    trap unmount_all EXIT
    local build=$work/build-root clean=$work/clean-root logs=$work/logs src start
    src=$home/updater
    mount_into "$build"
    mount_into "$clean"
    check "the root is a mount point: private mount namespaces work in the chroot" \
        in_root "$build" "$logs/namespaces.log" "mountpoint -q / && unshare -m --propagation private true"

    # 1. The run command, as a newcomer types it.
    start=$SECONDS
    if in_root "$build" "$logs/run.log" "cd $src && timeout 3600 bash scripts/run.sh"; then
        pass "run command: installs, builds and updates the virtual calculator (exit 0)"
    else
        fail "run command exits 0" "$logs/run.log"
    fi
    timed run $((SECONDS - start))
    check "run command: all three files written" \
        test "$(grep -c '^[^ ]*: VELA_[A-Z]*\.[A-Z]* written$' "$logs/run.log")" -eq 3
    check "run command: the calculator got the finish command" \
        grep -q 'FINISH' "$build$src/build/virtual-calculator/unit0.trace"
    check "run command: no size-hint warnings of the offscreen platform" \
        bash -c "! grep -q propagateSizeHints '$logs/run.log'"
    local extra
    if extra=$(only_the_programs "$build$src/build"); then
        pass "run command: builds Updater and vela-update, no test or benchmark"
    else
        fail "run command builds no test or benchmark" "$extra"
    fi
    check "run command: the window's string modules and icons beside it" \
        test -f "$build$src/build/app/resource/HelpEn.orvaneresource" -a -f "$build$src/build/app/icons/varFolder_16x16.png"

    # 2. The test command, Linux stage only.
    start=$SECONDS
    if in_root "$build" "$logs/test.log" "cd $src && UPDATER_TEST_QUICK=1 timeout 3600 bash scripts/test.sh"; then
        pass "test command with UPDATER_TEST_QUICK=1"
    else
        fail "test command with UPDATER_TEST_QUICK=1" "$logs/test.log"
    fi
    timed tests $((SECONDS - start))

    # 3. The package.
    start=$SECONDS
    local deb
    if in_root "$build" "$logs/package.log" "cd $src && bash scripts/package.sh"; then
        pass "package.sh builds the .deb"
    else
        fail "package.sh builds the .deb" "$logs/package.log"
    fi
    timed package $((SECONDS - start))

    # 4. The package on a machine that has never built anything.
    start=$SECONDS
    deb=$(find "$build$src/build/packages" -maxdepth 1 -name 'vela-updater_*_amd64.deb' -printf '%f\n' 2>/dev/null | head -n1)
    if [ -z "$deb" ]; then
        fail "installing the .deb" "no package"
        return
    fi
    mkdir -p "$clean/tmp/package"
    cp "$build$src/build/packages/$deb" "$clean/tmp/package/"
    if in_root "$clean" "$logs/install.log" \
        "cd /tmp/package && apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y ./vela-updater_*.deb"; then
        pass "apt-get install ./$deb on a clean root"
    else
        fail "apt-get install ./$deb on a clean root" "$logs/install.log"
    fi
    local lib=$clean/usr/lib/vela-updater
    check "installed: the executable" test -x "$lib/Updater"
    check "installed: the eight string modules beside it" \
        test "$(find "$lib/resource" -name '*.orvaneresource' 2>/dev/null | wc -l)" -eq 8
    check "installed: the folder icons beside it" test -f "$lib/icons/varFolder_16x16.png"
    check "installed: vela-updater on the PATH" \
        in_root "$clean" "$logs/install.log" "command -v vela-updater && test -x \"\$(readlink -f /usr/bin/vela-updater)\""
    check "installed: menu entry that starts vela-updater" \
        grep -qx 'Exec=vela-updater' "$clean/usr/share/applications/vela-updater.desktop"
    check "installed: the menu entry's icon" test -f "$clean/usr/share/icons/hicolor/64x64/apps/vela-updater.png"
    check "installed: the udev rule" \
        cmp -s "$clean/usr/lib/udev/rules.d/70-vela-updater.rules" "$build$src/packaging/linux/70-vela-updater.rules"
    # It shows "No updates are available" and stays: still up after 10 s
    # (timeout's 124), having said that its window is shown.
    if in_root "$clean" "$logs/start.log" \
        "mkdir -p /tmp/empty && QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='updater.ui=true' timeout 10 vela-updater /tmp/empty 1; test \$? -eq 124" &&
        grep -q 'updater.ui: the window is shown' "$logs/start.log"; then
        pass "the installed updater starts and shows its window"
    else
        fail "the installed updater starts and shows its window" "$logs/start.log"
    fi
    check "the installed updater prints no warning of Qt" \
        bash -c "! grep -qiE 'propagateSizeHints|could not|cannot|failed' '$logs/start.log'"
    if in_root "$clean" "$logs/remove.log" "DEBIAN_FRONTEND=noninteractive apt-get remove -y vela-updater" &&
        [ ! -e "$lib" ] && [ ! -e "$clean/usr/lib/udev/rules.d/70-vela-updater.rules" ] &&
        [ ! -e "$clean/usr/bin/vela-updater" ]; then
        pass "apt-get remove takes the program, link and rule away"
    else
        fail "apt-get remove takes the program, link and rule away" "$logs/remove.log"
    fi
    timed install $((SECONDS - start))
}

if [ "${1:-}" = --inside ]; then
    inside
    exit 0
fi

# ------------------------------------------------------------------ outside

# shellcheck source=scripts/apt_sources.sh
. scripts/apt_sources.sh
# shellcheck source=scripts/capabilities.sh
. scripts/capabilities.sh
entries=$(apt_entries "$suite")
mirror=$(apt_mirror "$suite")

# What the check needs of this machine; prints why not when it lacks one.
needs="root with a private mount namespace, debootstrap, git and this machine's Debian mirror"
can_run_here() {
    local tool
    can_private_mounts || return 1
    for tool in debootstrap git chroot; do
        command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/deps.sh test)"; return 1; }
    done
    can_reach_mirror "$mirror" "$suite"
}
if [ "${1:-}" = --can-run ]; then
    # The test command asks first, to skip this stage where it cannot run.
    why=$(can_run_here) || { echo "the fresh-machine check needs $needs, but $why"; exit 1; }
    exit 0
fi
why=$(can_run_here) || { echo "check_fresh_machine.sh: needs $needs, but $why" >&2; exit 1; }

mkdir -p "$cache/archives/partial" "$work"
exec 9>"$cache/lock"
flock 9

# A root is removed only when nothing is mounted inside it: the mounts live in
# the check's own namespace, but a root left by something else must not take
# a bind-mounted folder of this machine with it.
remove_root() {
    if grep -qF " $1/" /proc/self/mountinfo; then
        echo "check_fresh_machine.sh: something is mounted under $1; unmount it first" >&2
        exit 1
    fi
    rm -rf --one-file-system "$1"
}

# The minimal root, made once per mirror and kept as a tar archive.
key=$(printf '%s %s minbase' "$mirror" "$suite" | md5sum | cut -c1-12)
base=$cache/minbase-$suite-$key.tar
started=$SECONDS
if [ ! -f "$base" ]; then
    echo "Making a minimal $suite root from $mirror (cached in $base)"
    remove_root "$work/debootstrap"
    debootstrap --variant=minbase "$suite" "$work/debootstrap" "$mirror" >"$work/debootstrap.log" 2>&1 ||
        { tail -n 20 "$work/debootstrap.log"; echo "check_fresh_machine.sh: debootstrap failed" >&2; exit 1; }
    tar -C "$work/debootstrap" -cf "$base.partial" .
    mv "$base.partial" "$base"
    remove_root "$work/debootstrap"
fi

make_root() { # folder
    remove_root "$1"
    mkdir -p "$1"
    tar -C "$1" -xf "$base"
    awk '{ printf "deb %s", $1; for (i = 2; i <= NF; i++) printf " %s", $i; print "" }' \
        <<<"$entries" >"$1/etc/apt/sources.list"
    rm -f "$1"/etc/apt/sources.list.d/*
    [ -f /etc/resolv.conf ] && cp -L /etc/resolv.conf "$1/etc/resolv.conf"
    # The cached downloads are shared with later runs: keep them.
    rm -f "$1/etc/apt/apt.conf.d/docker-clean"
    echo 'Binary::apt::APT::Keep-Downloaded-Packages "true";' >"$1/etc/apt/apt.conf.d/10keep-downloads"
}
rm -rf "$work/logs" "$work/results" "$work/times"
mkdir -p "$work/logs"
: >"$work/results"
make_root "$work/build-root"
make_root "$work/clean-root"
mkdir -p "$work/build-root$home"
head=$(git rev-parse HEAD)
git diff --quiet HEAD || echo "Note: uncommitted changes are not part of this check (HEAD $head)."
git clone --quiet --no-checkout "$repo" "$work/build-root$home/updater"
git -C "$work/build-root$home/updater" checkout --quiet "$head"
cp -a "$repo/../shared" "$work/build-root$home/shared"
timed root $((SECONDS - started))

export work cache home
unshare --mount --ipc --pid --fork --propagation private -- "$0" --inside || true

passed=$(grep -c '^PASS' "$work/results" || true)
failed=$(grep -c '^FAIL' "$work/results" || true)
times=$(tr '\n' ',' <"$work/times" | sed 's/,$//; s/,/, /g')
total=$((SECONDS - started))
printf 'Fresh Debian 12 machine: %d passed, %d failed (%s; total %d:%02d)\n' \
    "$passed" "$failed" "$times" $((total / 60)) $((total % 60))
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
