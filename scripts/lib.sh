# shellcheck shell=bash
# Shared by the scripts; sourced, not run:   . "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# The Debian 12 packages the build and the tests need.
# shellcheck disable=SC2034  # used by the scripts that source this
updater_build_packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev qt6-base-dev
                        libudev-dev fonts-liberation2 fontconfig xvfb xauth clang-format nettle-dev
                        python3 libsystemd-dev)

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

  echo "$(basename "$0"): installing: ${missing[*]}"
  local sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  # Through env, since sudo drops the caller's environment.
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q </dev/null
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive \
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
      echo "$(basename "$0"): $(basename "$link") is still mapped in the prefix" >&2
      return 1
    fi
  done
}
