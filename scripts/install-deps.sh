#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need and
# this machine lacks: CMake and Ninja, GoogleTest and Google Benchmark, CLI11,
# fmt and nlohmann-json, cpp-httplib (daqctl panel's web server), the
# MinGW-w64 i686 cross toolchain for the Windows target, 32-bit Wine to run
# the Windows builds, LLVM's clang, lld and tools (the MSVC import libraries,
# the MSVC-target link tests, and with clang's runtimes the libFuzzer
# build), pkg-config (the install tests), Python with numpy and pytest (the
# Python package), and for the panel's tests chromium with its WebDriver,
# python3-selenium and curl. Does nothing when all is there. Needs root (or
# sudo) only when something is missing.
set -euo pipefail

packages=(cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev libcli11-dev libfmt-dev
          nlohmann-json3-dev libcpp-httplib-dev g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386
          clang libclang-rt-dev lld llvm pkgconf chromium chromium-driver python3-selenium curl)

missing=()
packages+=(python3 python3-numpy python3-pytest python3-venv python3-pip)  # the Python package and its tests
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "install-deps: missing Debian packages: ${missing[*]}"
SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    echo "install-deps: installing them needs root: run this as root, or install sudo, or install them yourself:" >&2
    echo "  apt-get install --no-install-recommends ${missing[*]}" >&2
    exit 1
  fi
  SUDO=(sudo)
fi
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "install-deps: adding the i386 architecture (32-bit Wine)"
  "${SUDO[@]}" dpkg --add-architecture i386
fi
echo "install-deps: reading Debian's package lists (apt-get update)"
"${SUDO[@]}" apt-get update -qq
megabytes=$("${SUDO[@]}" apt-get install --print-uris -qq --no-install-recommends "${missing[@]}" 2>/dev/null \
            | awk '{ bytes += $3 } END { printf "%d", bytes / 1048576 }')
echo "install-deps: downloading about ${megabytes} MB of packages and installing them (a few minutes on a fresh machine)"
"${SUDO[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "install-deps: done"
