# shellcheck shell=bash
# Shared by the scripts; sourced, not run:   . "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# The Debian 12 packages the build and the tests need.
# shellcheck disable=SC2034  # used by the scripts that source this
updater_build_packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev qt6-base-dev
                        fonts-liberation2 fontconfig xvfb xauth clang-format)

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
