#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need and
# this machine lacks: CMake and Ninja, GoogleTest and Google Benchmark, CLI11,
# fmt and nlohmann-json, cpp-httplib (daqctl panel's web server), the
# MinGW-w64 i686 cross toolchain for the Windows target, 32-bit Wine to run
# the Windows builds, and for the panel's tests chromium with its WebDriver,
# python3-selenium and curl. Does nothing when all is
# there. Needs root (or sudo) only when something is missing.
set -euo pipefail

packages=(cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev libcli11-dev libfmt-dev
          nlohmann-json3-dev libcpp-httplib-dev pkg-config g++-mingw-w64-i686 binutils-mingw-w64-i686 wine
          wine32:i386 chromium chromium-driver python3-selenium curl)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
