# Shared settings of the project's scripts. Source it; it defines paths and the Wine environment.

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build_root="${VYN_BUILD_ROOT:-$repo/build}"
host_build="$build_root/host"
win32_build="$build_root/win32"     # the shipped stub: mingw-w64 i686
win64_build="$build_root/win64"     # the same code for x86_64, whose tests run on any Wine host

# One private prefix (64-bit, so a 32-bit stub meets WOW64 as on 64-bit Windows) and one
# wineserver for the whole run.
export WINEPREFIX="${VYN_WINEPREFIX:-$build_root/wine/prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY no_proxy NO_PROXY all_proxy ALL_PROXY

# True when this machine executes 32-bit x86 code (some hypervisors offer no 32-bit mode; there
# only the x86_64 build can run under Wine).
can_run_32bit() {
  [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

wine_prefix_ready() { [ -f "$WINEPREFIX/.vyn-ready" ]; }
# A prefix made where 32-bit code could not run has an empty 32-bit system folder (WOW64).
wine_prefix_has_32bit_side() { [ -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; }

make_wine_prefix() {
  wine_prefix_ready && return 0
  echo "== creating the Wine prefix $WINEPREFIX"
  # wineboot now and then leaves a prefix without its system DLLs (a server of an earlier prefix
  # still going away, say); such a prefix fails every program later, so it is made once more.
  local attempt
  for attempt in 1 2; do
    /usr/lib/wine/wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX" && mkdir -p "$(dirname "$WINEPREFIX")"
    WINEARCH=win64 /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1 || true
    /usr/lib/wine/wineserver -w
    [ -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ] && break
    echo "wineboot left $WINEPREFIX without its system DLLs (attempt $attempt)" >&2
  done
  [ -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ] || return 1
  # Tahoma and the other faces Wine ships, which Debian's Wine does not read from its own folder.
  if [ -d /usr/share/wine/fonts ]; then
    cp -n /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
  fi
  [ -f "$WINEPREFIX/system.reg" ] || { echo "wineboot failed to create $WINEPREFIX" >&2; return 1; }
  touch "$WINEPREFIX/.vyn-ready"
}

# A persistent wineserver makes each Wine process start in a few milliseconds. Its helper
# processes inherit the first Wine process's output, so that process gets none.
start_wineserver() {
  # A server already running for this prefix (a run that was interrupted) is simply reused.
  /usr/lib/wine/wineserver -p 2>/dev/null || true
  /usr/lib/wine/wine64 cmd /c exit </dev/null >/dev/null 2>&1 || true
}

stop_wineserver() {
  /usr/lib/wine/wineserver -k 2>/dev/null || true
}

# configure <build dir> <cmake args...>: configures once, with Ninja.
configure() {
  local dir=$1; shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$repo" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="${VYN_BUILD_TYPE:-RelWithDebInfo}" "$@" >/dev/null
  fi
}

# The host build's sfxtool signs the Windows builds' stub (bin/vyn-sfx-signed.exe) once it exists.
configure_win() {
  local arch=$1 dir=$2; shift 2
  configure "$dir" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw.cmake" -DVYN_WIN_ARCH="$arch" \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$repo/scripts/lib/winerun" -DVYN_SFXTOOL="$host_build/bin/sfxtool" "$@"
}

configure_host() {
  configure "$host_build" "$@"
}
