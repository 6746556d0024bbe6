#!/usr/bin/env bash
# Installs the Debian packages that building, testing, fuzzing, screenshots, packaging and the
# gateway need (Debian 12 / Ubuntu), without recommended packages, so nothing is there by luck.
# --list prints the list and installs nothing (scripts/check-package-closure.sh reads it).
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-serialport-dev qt6-serialbus-dev qt6-tools-dev qt6-tools-dev-tools
  # lupdate and lrelease for the German catalogue, Qt's own German texts, and a German locale
  # for the tests that write files under it.
  qt6-l10n-tools qt6-translations-l10n locales-all
  # The UiTools CMake package needs Qt6OpenGL's, which qt6-base-dev only recommends.
  libqt6opengl6-dev libgl-dev
  libqcustomplot-dev libqcustomplot2.1-qt6
  googletest libgtest-dev
  xvfb xauth fonts-dejavu-core
  clang libclang-rt-14-dev
  # cpack's dpkg-shlibdeps runs file; the report tests read PDFs.
  file dpkg-dev poppler-utils
  # The gateway: its MQTT library, and for its tests a broker, MQTT and Modbus clients that are
  # not the program's own, and openssl for a throwaway TLS certificate authority.
  libmosquitto-dev mosquitto mosquitto-clients mbpoll openssl
  # The gateway's store on disk, and its readiness and watchdog under systemd.
  libsqlite3-dev libsystemd-dev
  # The gateway's Sparkplug B payload: C code generated from its .proto at build time, encoded
  # with libprotobuf-c.
  libprotobuf-c-dev protobuf-c-compiler
  # The Sparkplug tests decode with Eclipse Tahu's codec, which npm installs into the build tree.
  nodejs npm
  # The gateway's web page and API (Boost.Beast and Asio, header-only; TLS through OpenSSL 3),
  # and promtool to check its metrics.
  libboost-dev libssl-dev prometheus
  # The port check's test plays a system bus with ModemManager on it.
  dbus-daemon
  # The package's checks: Debian's rules, the desktop entry, the AppStream metadata, and
  # systemd-analyze for the gateway's unit.
  lintian desktop-file-utils appstream systemd
  # The gateway's page is tested in a real browser, driven through WebDriver.
  chromium chromium-driver python3-selenium
)
if [ "${1:-}" = "--list" ]; then
  printf '%s\n' "${packages[@]}"
  exit 0
fi
missing=()
for p in "${packages[@]}"; do
  # A Node.js from another source may bring npm itself (and conflict with Debian's npm).
  [ "$p" = npm ] && command -v npm > /dev/null && continue
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
