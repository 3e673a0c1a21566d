# shellcheck shell=bash
# Shared by the scripts; sourced, not run:   . "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# The tree the sourcing script belongs to.
updater_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# log TEXT... : one line of the script's, after its name (how people tell the scripts' lines apart
# in CI's log). die TEXT... : the same on standard error, and the script ends with status 1.
log() { echo "$(basename "$0"): $*"; }
die() {
  log "$*" >&2
  exit 1
}

# pass TEXT... / fail TEXT... : one result line each, counted in `passed` and `failed`;
# report_results closes with "NAME: N passed, M failed" and returns 1 when any failed.
passed=0
failed=0
pass() {
  log "ok: $*"
  passed=$((passed + 1))
}
fail() {
  log "FAILED: $*" >&2
  failed=$((failed + 1))
}
report_results() {
  log "$passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

# Debian's 64-bit Wine and its server.
# shellcheck disable=SC2034  # used by the scripts that source this
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

# The Debian 12 packages the build and the tests need.
# shellcheck disable=SC2034  # used by the scripts that source this
updater_build_packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev qt6-base-dev
                        libudev-dev fonts-liberation2 fontconfig xvfb xauth clang-format libsodium-dev minisign
                        python3 libsystemd-dev systemd systemd-journal-remote gettext
                        locales)
# The browser tests of the line's page: Cockpit's web server and bridge (which the field rig's
# guest serves the page with), Chromium and Selenium (which drive a browser on this machine).
# shellcheck disable=SC2034  # used by the scripts that source this
updater_cockpit_packages=(cockpit-ws cockpit-bridge)
# shellcheck disable=SC2034  # used by the scripts that source this
updater_browser_packages=(chromium chromium-driver python3-selenium)
# shellcheck disable=SC2034  # used by the scripts that source this
updater_web_test_packages=("${updater_cockpit_packages[@]}" "${updater_browser_packages[@]}")
# The Windows build (MinGW-w64, with gettext for its catalogs) and Wine to run it.
# shellcheck disable=SC2034  # used by the scripts that source this
updater_windows_packages=(cmake ninja-build g++ g++-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix
                          wine64 xvfb xauth gettext)

# use_build_catalogs BUILD: programs run from the build folder BUILD find their translations there
# (an installed program finds them under /usr/share/locale).
use_build_catalogs() { export ACTUALIZADOR_LOCALEDIR="$1/locale"; }

# as_root COMMAND... : runs COMMAND as root, through sudo when not root already.
as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# become_root ARGS... : the calling script starts again as root (through sudo) unless it is root.
become_root() {
  [ "$(id -u)" -eq 0 ] || exec sudo "$0" "$@"
}

# generate_locales NAME... : makes the locales (en_US.UTF-8, ...) that are not there yet, as a
# user's machine has them: Debian generates only those /etc/locale.gen names. The programs need
# none to speak a language; the tests run them both ways.
generate_locales() {
  local missing=() name
  for name in "$@"; do
    locale -a | grep -qxF "${name/.UTF-8/.utf8}" || missing+=("$name")
  done
  [ ${#missing[@]} -eq 0 ] && return 0

  log "generating the locales: ${missing[*]}"
  for name in "${missing[@]}"; do
    echo "$name UTF-8" | as_root tee -a /etc/locale.gen >/dev/null
  done
  as_root locale-gen >/dev/null
}

# install_missing_packages PACKAGE... : installs those of the Debian packages that are missing,
# through sudo when not root, without asking anything.
install_missing_packages() {
  local missing=() p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0

  log "installing: ${missing[*]}"
  # Through env, since sudo drops the caller's environment.
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -q </dev/null
  as_root env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends "${missing[@]}" </dev/null
}

# write_demo_image FILE BLOCKS : the demo image DEMO.QMZ, BLOCKS lines of 37 bytes of text (no
# zero byte, so the window's text view shows all of it).
write_demo_image() {
  local file=$1 blocks=$2 i
  for ((i = 1; i <= blocks; i++)); do
    printf 'Imagen de prueba 47913, bloque %03d.\r\n' "$i"
  done >"$file"
}

# wine_prefix_with_com3 LINE : fills the new, private Wine prefix $WINEPREFIX and leaves a
# persistent Wine server running for it, with one serial port: COM3, which leads to LINE (a link
# that the device simulator points at its terminal). No other COM name has a device, since Wine
# gives the machine's /dev/ttyS* the first free COM names and nothing run in the prefix may reach
# a real port. Uses $wine and $wineserver; returns 1 when a port other than COM3 stays mapped.
wine_prefix_with_com3() {
  local line=$1 n link
  "$wine" wineboot --init </dev/null >/dev/null 2>&1
  "$wineserver" -w
  # An empty value means no port; naming COM1 to COM4 keeps the machine's ports off them.
  for n in 1 2 4; do
    "$wine" reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /t REG_SZ /d '' /f </dev/null >/dev/null
  done
  "$wine" reg add 'HKLM\Software\Wine\Ports' /v COM3 /t REG_SZ /d "$line" /f </dev/null >/dev/null
  # Xvfb has no window manager: windows that Wine leaves unmanaged appear and go at once, where
  # a managed one waits seconds for a manager to take it.
  "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
    </dev/null >/dev/null
  "$wineserver" -w
  # One server from here on, so the port links are made once and stay as set below.
  "$wineserver" -p >/dev/null 2>&1
  "$wine" cmd /c exit </dev/null >/dev/null 2>&1
  for link in "$WINEPREFIX"/dosdevices/com*; do
    [ "$(basename "$link")" = com3 ] || rm -f "$link"
  done
  ln -sfn "$line" "$WINEPREFIX/dosdevices/com3"
  for link in "$WINEPREFIX"/dosdevices/com*; do
    if [ "$(basename "$link")" != com3 ]; then
      log "$(basename "$link") is still mapped in the prefix" >&2
      return 1
    fi
  done
}

# private_wine_prefix PREFIX LINE : from here on Wine runs quietly in PREFIX, a new prefix of its
# own (no Mono or Gecko installer on first start, no Wayland: DISPLAY is the X server), made by
# wine_prefix_with_com3 LINE. stop_wine_prefix ends its server and all that runs there.
private_wine_prefix() {
  updater_wine_prefix=$1
  export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  unset WAYLAND_DISPLAY
  wine_prefix_with_com3 "$2"
}
stop_wine_prefix() {
  if [ -n "${updater_wine_prefix:-}" ] && [ -d "$updater_wine_prefix" ]; then
    WINEPREFIX="$updater_wine_prefix" "$wineserver" -k >/dev/null 2>&1 || true
  fi
}

# make_work_dir NAME : a new working folder /tmp/NAME.XXXXXX in $work and, however the script
# ends, its clean-up: the simulator started last stops, the script's own cleanup_more runs (when
# it defines one), the private Wine prefix's server ends, and the links listed in the array
# `created` and the folder go. An interrupt ends the script with status 130.
make_work_dir() {
  work=$(mktemp -d "/tmp/$1.XXXXXX")
  sim_pid=""
  created=()
  trap end_work EXIT
  trap 'exit 130' INT TERM HUP
}
end_work() {
  local link
  stop_simulator
  if declare -F cleanup_more >/dev/null; then
    cleanup_more
  fi
  stop_wine_prefix
  for link in "${created[@]}"; do
    rm -f "$link"
  done
  rm -rf "$work"
}

# run_on_private_display GUARD SERVER_OPTIONS COMMAND... : unless the variable GUARD is set, runs
# COMMAND (the calling script again) in its place with GUARD=1, on a private Xvfb server started
# with SERVER_OPTIONS, so that nothing reaches the desktop of whoever runs the script; returns at
# once when GUARD is set, that is on that server.
run_on_private_display() {
  local guard=$1 server_options=$2
  shift 2
  [ -z "${!guard:-}" ] || return 0
  unset DISPLAY WAYLAND_DISPLAY
  export "$guard=1"
  exec xvfb-run -a -s "$server_options" "$@"
}

# configure_build DIR [CMAKE_OPTION...] : configures the tree's build in DIR, quietly: Ninja,
# RelWithDebInfo unless an option names another build type.
configure_build() {
  local dir=$1
  shift
  cmake -S "$updater_root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

# configure_windows_build DIR [CMAKE_OPTION...] : configures the MinGW-w64 cross build in DIR.
configure_windows_build() {
  local dir=$1
  shift
  configure_build "$dir" -DCMAKE_TOOLCHAIN_FILE="$updater_root/cmake/toolchain-mingw64.cmake" "$@"
}

# build_host_simulator DIR [BUILD_OPTION...] : builds the device simulator alone for this machine
# in DIR, as DIR/sim/sim47913 (the Windows tests run it beside Wine).
build_host_simulator() {
  local dir=$1
  shift
  configure_build "$dir" -DUPDATER_BUILD_TESTS=OFF -DUPDATER_BUILD_GUI=OFF \
    -DUPDATER_BUILD_BENCH=OFF
  cmake --build "$dir" "$@" --target sim47913
}

# start_simulator SIMULATOR OUT [OPTION...] : starts the device simulator in the background with
# OPTIONS, its standard output in OUT and its errors in OUT.err, and leaves its pid in sim_pid.
# Waits up to ten seconds for its first line (its terminal's path) and, given --link LINK, for
# LINK; returns 1, with its errors on standard error, when it did not come up.
# stop_simulator ends the simulator started last, if it still runs, and forgets it.
start_simulator() {
  local program=$1 out=$2 link="" previous="" option i
  shift 2
  for option in "$@"; do
    [ "$previous" != --link ] || link=$option
    previous=$option
  done
  "$program" "$@" >"$out" 2>"$out.err" </dev/null &
  sim_pid=$!
  for ((i = 0; i < 100; i++)); do
    if [ -s "$out" ] && { [ -z "$link" ] || [ -L "$link" ]; }; then
      return 0
    fi
    sleep 0.1
  done
  cat "$out.err" >&2
  return 1
}
stop_simulator() {
  if [ -n "${sim_pid:-}" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
  fi
}

# mark_ports_absent DIR : so that a window run for show never reaches a real serial line, COM1,
# COM2 and COM4 become links into DIR that lead nowhere, where /dev has no such name yet (one that
# exists is left alone). Needs write access to /dev; adds what it makes to the array `created`.
mark_ports_absent() {
  local dir=$1 n
  for n in 1 2 4; do
    if [[ ! -e /dev/COM$n && ! -L /dev/COM$n ]]; then
      ln -s "$dir/absent-COM$n" "/dev/COM$n"
      created+=("/dev/COM$n")
    fi
  done
}

# display_opens : whether a window can open here: an X server in DISPLAY that takes this user's
# connection (a name with no server behind it, or one that refuses this user, does not count), or
# a Wayland compositor in WAYLAND_DISPLAY. Asks the libraries Qt connects with, through python3.
display_opens() {
  [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ] || return 1
  # A display across the network that does not answer would hold the connection for minutes.
  timeout 10 python3 - 2>/dev/null <<'EOF'
import ctypes, os, sys
if os.environ.get("DISPLAY"):
    try:
        xcb = ctypes.CDLL("libxcb.so.1")
        xcb.xcb_connect.restype = ctypes.c_void_p
        xcb.xcb_connection_has_error.argtypes = [ctypes.c_void_p]
        xcb.xcb_disconnect.argtypes = [ctypes.c_void_p]
        connection = xcb.xcb_connect(None, None)
        refused = xcb.xcb_connection_has_error(connection)
        xcb.xcb_disconnect(connection)
        if not refused:
            sys.exit(0)
    except OSError:
        pass
if os.environ.get("WAYLAND_DISPLAY"):
    try:
        wayland = ctypes.CDLL("libwayland-client.so.0")
        wayland.wl_display_connect.restype = ctypes.c_void_p
        wayland.wl_display_disconnect.argtypes = [ctypes.c_void_p]
        display = wayland.wl_display_connect(None)
        if display:
            wayland.wl_display_disconnect(display)
            sys.exit(0)
    except OSError:
        pass
sys.exit(1)
EOF
}

# download_in_terminal BUILD : where no window can open, the window's download in the terminal
# instead, after one line that says so: BUILD's actualizador-cli flashes a small DEMO.QMZ into
# BUILD's simulator, paced at the line rate on a pseudo-terminal of its own that is named with
# --port, so no /dev/COM3 and no root. Works in a folder of its own (make_work_dir). Returns the
# updater's exit status: 0 when the download succeeded.
download_in_terminal() {
  local build line status=0
  build=$(realpath "$1")
  make_work_dir actualizador-terminal
  # Five blocks: a few seconds at the line rate.
  write_demo_image "$work/DEMO.QMZ" 16
  start_simulator "$build/sim/sim47913" "$work/sim.out" --timeout 120 ||
    die "the simulator did not start"
  line=$(head -n 1 "$work/sim.out")
  log "the window needs a desktop, and none opens here; in the terminal instead:" \
    "actualizador-cli --port $line DEMO.QMZ, against the simulator"
  (cd "$work" && exec "$build/app/cli/actualizador-cli" --port "$line" DEMO.QMZ) </dev/null ||
    status=$?
  return "$status"
}
