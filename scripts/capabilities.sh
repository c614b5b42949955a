# shellcheck shell=sh
# Sourced (by sh or bash) by the steps that need more of this machine than
# files and a compiler: root with a private mount namespace, loop devices, a
# Debian mirror. Each probe changes nothing; it returns 0 when the need is met
# and otherwise prints why not, worded to end a sentence "... needs X, but
# <why>", so that a step skipped here says what it lacks.

# can_private_mounts: root, and a mount namespace of our own whose mounts stay
# in it (unshare -m --propagation private).
can_private_mounts() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "it runs without root"
    return 1
  fi
  if ! command -v unshare >/dev/null; then
    echo "unshare is missing (util-linux)"
    return 1
  fi
  unshare -m --propagation private true 2>/dev/null && return 0
  # unshare first makes / private, which the kernel refuses where / is not a
  # mount point: a plain chroot into a folder.
  if ! mountpoint -q / 2>/dev/null; then
    echo "/ is not a mount point here (a chroot into a folder?)"
  else
    echo "this machine refuses a new mount namespace (a container without CAP_SYS_ADMIN?)"
  fi
  return 1
}

# can_loop_devices: a free loop device to attach a file to.
can_loop_devices() {
  if ! command -v losetup >/dev/null; then
    echo "losetup is missing (mount)"
    return 1
  fi
  if [ ! -e /dev/loop-control ]; then
    echo "there is no /dev/loop-control here"
    return 1
  fi
  if ! losetup -f >/dev/null 2>&1; then
    echo "losetup finds no free loop device"
    return 1
  fi
}

# can_reach_mirror MIRROR SUITE: the mirror answers with the suite's index.
can_reach_mirror() {
  if [ -z "$1" ]; then
    echo "this machine's apt sources name no mirror for $2"
    return 1
  fi
  case $1 in
    http://* | https://*)
      if ! wget -q -O /dev/null -T 20 -t 2 "${1%/}/dists/$2/InRelease" 2>/dev/null &&
        ! wget -q -O /dev/null -T 20 -t 2 "${1%/}/dists/$2/Release" 2>/dev/null; then
        echo "the mirror $1 does not answer (no network?)"
        return 1
      fi
      ;;
  esac
}
