# Running the i686 build where the processor offers no 32-bit mode: Debian's qemu-i386 is made the
# interpreter of i386 ELF files (Wine's 32-bit side) through binfmt_misc, for one command only.
# Source it after common.sh.
#
# The registration is made, in this order of preference:
#  - in a private user and mount namespace (Linux 6.7 and later give each user namespace its own
#    binfmt_misc): nothing outside the command sees it, and it vanishes with the command even when
#    the run is killed;
#  - in the machine's binfmt_misc (as root): mounted when it is not, registered under our own name,
#    and removed again (and unmounted when we mounted it) when the command ends, fails or is
#    interrupted.

i386_elf_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_elf_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
qemu_i386=/usr/bin/qemu-i386-static
binfmt_name=vyn-qemu-i386
# qemu then reserves less address space for the guest at start, which with qemu 7.2 was most of a
# Wine process's start-up cost under emulation (about 45 s); less than this and Wine does not
# start. scripts/setup installs qemu 8 or later, which starts one in about a second.
export QEMU_RESERVED_VA=0xc0000000

# Why the emulator cannot be used here, or nothing when it can be tried.
emulation_unavailable() {
  [ -x "$qemu_i386" ] || { echo "$qemu_i386 is missing (scripts/setup installs qemu-user-static)"; return; }
  [ "$(id -u)" = 0 ] || unshare --user --map-root-user true 2>/dev/null \
    || echo "registering an interpreter needs root or user namespaces, and neither is available"
}

# The registration line for binfmt_misc's "register" file (flag F: the interpreter is opened now,
# so it also serves programs in other mount namespaces).
binfmt_rule() { printf ':%s:M::%s:%s:%s:F' "$binfmt_name" "$i386_elf_magic" "$i386_elf_mask" "$qemu_i386"; }

# with_i386_emulation <command...>: runs the command with i386 ELF files going to qemu. Returns the
# command's status, or 125 with a line on stderr when no registration could be made.
with_i386_emulation() {
  local status=0
  with_private_emulation "$@" || status=$?
  [ "$status" != 125 ] && return "$status"
  status=0
  with_global_emulation "$@" || status=$?
  return "$status"
}

with_private_emulation() {
  unshare --user --map-root-user --mount true 2>/dev/null || return 125
  local ready
  ready=$(mktemp)
  local status=0
  unshare --user --map-root-user --mount bash -c '
    ready=$1 rule=$2; shift 2
    dir=$(mktemp -d) || exit 125
    mount -t binfmt_misc binfmt_misc "$dir" 2>/dev/null || exit 125
    printf "%s" "$rule" >"$dir/register" 2>/dev/null || exit 125
    /lib/ld-linux.so.2 --version >/dev/null 2>&1 || exit 125
    echo ok >"$ready"
    exec "$@"' private-emulation "$ready" "$(binfmt_rule)" "$@" || status=$?
  if [ ! -s "$ready" ]; then status=125; fi
  rm -f "$ready"
  return "$status"
}

global_binfmt=${VYN_BINFMT_DIR:-/proc/sys/fs/binfmt_misc}  # another folder only to try this path
global_mounted_by_us=0

# Removes what with_global_emulation added; harmless when it added nothing. The caller's EXIT trap
# calls it too, so an interrupted run leaves nothing behind (bash runs that trap on SIGINT and
# SIGTERM as well).
remove_global_emulation() {
  remove_global_emulation_entry
  if [ "$global_mounted_by_us" = 1 ]; then
    umount "$global_binfmt" 2>/dev/null || true
    global_mounted_by_us=0
  fi
  return 0
}

with_global_emulation() {
  if [ "$(id -u)" != 0 ]; then
    echo "binfmt_misc registration refused: not root and no private namespace" >&2
    return 125
  fi
  if [ ! -e "$global_binfmt/register" ]; then
    if ! mount -t binfmt_misc binfmt_misc "$global_binfmt" 2>/dev/null; then
      echo "binfmt_misc cannot be mounted at $global_binfmt" >&2
      return 125
    fi
    global_mounted_by_us=1
  fi
  # A registration under our name is a left-over of a run that was killed.
  remove_global_emulation_entry
  if ! binfmt_rule >"$global_binfmt/register" 2>/dev/null; then
    echo "binfmt_misc refused the registration of $qemu_i386" >&2
    remove_global_emulation
    return 125
  fi
  local status=0
  "$@" || status=$?
  remove_global_emulation
  return "$status"
}

remove_global_emulation_entry() {
  if [ -e "$global_binfmt/$binfmt_name" ]; then echo -1 >"$global_binfmt/$binfmt_name" 2>/dev/null || true; fi
}
