#!/bin/sh
# The install tests, one STEP per CTest test; tests/install/CMakeLists.txt
# sets the environment (PREFIX, BUILD, BACKEND, KIND, EMULATOR, ...). Each
# step works in a scratch folder of its own and runs the README's recipes
# (recipes/*.sh) as they stand.
#
# Linux: the hardware libraries are only ever called by app.c, which gives up
# every capability first (no port access, and it calls nothing when it could
# not); no other program of a Linux hardware build is run here. Windows
# programs run under Wine, which has no port-access driver.
set -eu
step=$1
here=$(cd "$(dirname "$0")" && pwd)
work="$WORK/$step"
rm -rf "$work"
mkdir -p "$work"
cd "$work"

fail() { echo "FAILED: $*" >&2; exit 1; }
# Runs recipes/NAME.sh here, showing each command.
recipe() { echo "== recipe $1"; sh -eux "$here/recipes/$1.sh"; }
# Runs a program of the build (under the emulator when cross-built), on the
# built-in bench whatever the caller's environment names.
run() { echo "== $*"; env -u DAQSIM_SCENARIO -u DAQSIM_REPORT ${EMULATOR:+"$EMULATOR"} "$@"; }
# The files under a folder (not folders), one a line, sorted.
files() { (cd "$1" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort); }
# The names a program imports from DLL, one a line, sorted (llvm-readobj).
imports() {
  "$READOBJ" --coff-imports "$1" | awk -v dll="$2" '
    /Name: / { inside = ($2 == dll) } inside && /Symbol: / { print $2 }' | LC_ALL=C sort
}
# The exports a .def lists, undecorated, sorted.
def_names() { awk '/@[0-9]+ +@[0-9]+/ { sub(/@.*/, "", $1); print $1 }' "$1" | LC_ALL=C sort; }

case $step in
tree)
  # Install; the files must be exactly the expected ones.
  rm -rf "$PREFIX"
  if [ "$BACKEND" = sim ]; then
    # A simulated tree refuses a plain install and installs nothing ...
    if cmake --install "$BUILD" --prefix "$PREFIX" >refusal.log 2>&1; then
      fail "a simulated tree installed without --component sim"
    fi
    grep -q "drive no hardware" refusal.log || { cat refusal.log; fail "no reason given for the refusal"; }
    [ -z "$(find "$PREFIX" ! -type d 2>/dev/null)" ] || fail "the refused install left files"
    # ... and installs when asked for by name.
    cmake --install "$BUILD" --prefix "$PREFIX" --component sim
  else
    cmake --install "$BUILD" --prefix "$PREFIX"
  fi
  files "$PREFIX" >installed.txt
  sed "s|@LIBDIR@|$LIBDIR|g; s|@VERSION@|$VERSION|g; s|@SOVERSION@|$SOVERSION|g" "$here/expected/$KIND.txt" \
    | LC_ALL=C sort >expected.txt
  diff -u expected.txt installed.txt || fail "installed files differ from expected/$KIND.txt"
  case $KIND in
  linux-*)
    readelf -d "$PREFIX/$LIBDIR/libKorvel.so.$VERSION" | grep -q "(SONAME).*\[libKorvel.so.$SOVERSION\]" \
      || fail "libKorvel's SONAME"
    readelf -d "$PREFIX/bin/daqctl" | grep -q '(RUNPATH).*\[\$ORIGIN/../lib\]' || fail "daqctl's RUNPATH"
    if [ "$BACKEND" = sim ]; then
      # Installed programs find their libraries (and the bench) by themselves.
      env -u LD_LIBRARY_PATH "$PREFIX/bin/daqctl" list || fail "the installed daqctl does not run"
    fi
    ;;
  windows-*)
    run "$PREFIX/bin/daqctl.exe" --help >/dev/null || fail "the installed daqctl.exe does not start"
    ;;
  esac
  ;;
cmake)
  cp -R "$here/consumer/." .
  case $KIND in
  windows-*) recipe cmake-mingw; run build/app.exe "$BACKEND" ;;
  *) recipe cmake; run build/app "$BACKEND" ;;
  esac
  ;;
pkg-config)
  cp "$here/consumer/app.c" .
  recipe pkg-config
  run ./app "$BACKEND"
  backend=$(PKG_CONFIG_PATH="$PREFIX/$LIBDIR/pkgconfig" pkg-config --variable=backend korvel)
  [ "$backend" = "$BACKEND" ] || fail "korvel.pc says backend '$backend'"
  ;;
mingw-c)
  cp "$here/consumer/app.c" .
  recipe mingw-c
  run ./app.exe hardware
  ;;
mingw-cxx)
  cp "$here/consumer/app.cpp" .
  recipe mingw-cxx
  run ./app.exe
  ;;
msvc)
  # The import libraries: for each export of the .def, the symbol _Name@N the
  # MSVC linker looks for and its __imp_ pointer, and nothing else.
  for lib in Korvel Dremor; do
    def_names "$PREFIX/$LIBDIR/$lib.def" >"$lib.names"
    awk '/@[0-9]+ +@[0-9]+/ { print "_" $1; print "__imp__" $1 }' "$PREFIX/$LIBDIR/$lib.def" | LC_ALL=C sort >"$lib.symbols"
    "$NM" --defined-only "$PREFIX/$LIBDIR/$lib.lib" | awk '$2 == "T" { print $3 }' | LC_ALL=C sort >"$lib.lib-symbols"
    diff -u "$lib.symbols" "$lib.lib-symbols" || fail "$lib.lib's symbols"
  done
  cp "$here/msvc/"* .
  recipe msvc
  # Every call goes through an import of the DLL's undecorated name (the
  # Korvel program calls all of Korvel's exports).
  imports korvel_app.exe Korvel.dll >korvel.imports
  diff -u Korvel.names korvel.imports || fail "korvel_app.exe's imports from Korvel.dll"
  imports dremor_app.exe Dremor.dll >dremor.imports
  [ -s dremor.imports ] || fail "dremor_app.exe imports nothing from Dremor.dll"
  comm -23 dremor.imports Dremor.names | grep . && fail "dremor_app.exe imports names Dremor.dll does not export"
  run ./korvel_app.exe
  run ./dremor_app.exe
  ;;
msvc-cmake)
  # The same programs from CMake with clang-cl: find_package gives an
  # MSVC-like compiler Korvel.lib and Dremor.lib.
  cp -R "$here/msvc/." .
  llvm-dlltool -m i386 -k -d kernel32.def -l kernel32.lib
  cmake -G Ninja -S . -B build --toolchain "$here/msvc/clang-cl.cmake" -DCLANG_CL="$CLANG_CL" \
        -DNOCRT_KERNEL32="$work/kernel32.lib" -DCMAKE_FIND_ROOT_PATH="$PREFIX"
  cmake --build build -v | tee build.log
  grep -q "lld-link.*/out:korvel_app.exe .*$PREFIX/$LIBDIR/Korvel.lib" build.log || fail "korvel_app.exe not linked with Korvel.lib"
  grep -q "lld-link.*/out:dremor_app.exe .*$PREFIX/$LIBDIR/Dremor.lib" build.log || fail "dremor_app.exe not linked with Dremor.lib"
  def_names "$PREFIX/$LIBDIR/Korvel.def" >Korvel.names
  imports build/korvel_app.exe Korvel.dll >korvel.imports
  diff -u Korvel.names korvel.imports || fail "korvel_app.exe's imports from Korvel.dll"
  cp "$PREFIX/bin/Korvel.dll" "$PREFIX/bin/Dremor.dll" build/
  run build/korvel_app.exe
  run build/dremor_app.exe
  ;;
bench)
  cp -R "$here/bench_consumer/." .
  case $KIND in
  windows-*) recipe cmake-mingw; run build/bench_app.exe ;;
  *) recipe cmake; run build/bench_app ;;
  esac
  ;;
subproject)
  cp -R "$here/subproject/." .
  cp "$here/consumer/app.c" .
  export KORVEL_DREMOR_SOURCE="$SOURCE"
  recipe subproject
  grep -q '^DAQ_BACKEND:STRING=hardware$' build/CMakeCache.txt || fail "the tree did not default to the hardware backend"
  run build/app hardware
  ;;
readme)
  # Each recipe stands in README.md word for word, in the fenced block after
  # a line "<!-- tests/install/FILE -->".
  cd "$SOURCE"
  for file in tests/install/recipes/*.sh tests/install/consumer/CMakeLists.txt tests/install/subproject/CMakeLists.txt; do
    awk -v marker="<!-- $file -->" '
      $0 == marker { found = 1; next }
      found && /^```/ { if (inside) exit; inside = 1; next }
      inside { print }' README.md >"$work/block"
    [ -s "$work/block" ] || fail "README.md has no block for $file"
    diff -u "$file" "$work/block" || fail "README.md's block differs from $file"
  done
  ;;
*)
  fail "unknown step $step"
  ;;
esac
echo "ok: $step"
