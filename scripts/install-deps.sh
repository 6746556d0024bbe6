#!/usr/bin/env bash
# Installs the Debian packages that building, testing and screenshots need (Debian 12 / Ubuntu).
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-serialport-dev qt6-tools-dev qt6-tools-dev-tools libgl-dev
  libqcustomplot-dev libqcustomplot2.1-qt6
  googletest libgtest-dev
  xvfb xauth fonts-dejavu-core
  clang libclang-rt-14-dev
  poppler-utils
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
