#!/usr/bin/env bash
# Installs what building, running and testing Brisk needs on Debian, when it is missing.
# Runs apt-get as root (directly, or through sudo when that is available).
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  ccache                      # a compiler cache: unchanged sources are not compiled again
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev
  qt6-translations-l10n       # Qt's own dialogs in Chinese
  libssl-dev                  # OpenSSL 3: TLS, keys and hashes of the encrypted sessions
  libgtest-dev libgmock-dev
  clang-format
  clang libclang-rt-dev       # the fuzzers: libFuzzer and the sanitizers' runtimes
  fonts-wqy-microhei          # Chinese glyphs for the interface
  xvfb xauth                  # a display for the window tests and screenshots
  libxcb1-dev                 # the attention-hint test listens on the display itself
  socat iproute2 time         # the benchmark: a plain stream to compare with, ss, peak memory
  procps                      # the load script finds the process that /usr/bin/time started
  libavahi-client-dev         # finding peers on the local network through avahi-daemon
  avahi-daemon avahi-utils dbus  # the discovery test runs its own bus and daemon; the
                              # desktop-notification test its own session bus
  desktop-file-utils appstream dpkg-dev file man-db   # checking the installation and package
  lintian                     # Debian's checker of the package
  systemd                     # systemd-analyze checks the inbox's user unit
  debootstrap                 # a fresh Debian root to install the package into
  locales                     # the Chinese locales the error-text test runs under
)

# System error texts in Chinese, in the UTF-8 and the GBK locale (made once, as root).
make_locales() {
  local entry name
  for entry in zh_CN.UTF-8:zh_CN.utf8 zh_CN.GBK:zh_CN.gbk; do
    name="${entry%%:*}"
    locale -a 2>/dev/null | grep -qx "${entry##*:}" && continue
    "${as_root[@]}" localedef -i zh_CN -f "${name##*.}" "$name"
  done
}

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
if [ ${#missing[@]} -eq 0 ]; then
  make_locales
  exit 0
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
# Where packages start their services, the machine's own avahi-daemon may run: the tests
# do not mind, since the discovery test runs its own daemon in namespaces of its own.
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
make_locales
