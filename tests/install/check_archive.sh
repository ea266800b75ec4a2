#!/bin/sh
# Unpacks a release archive and checks it:
#   check_archive.sh ARCHIVE linux|win32 VERSION
# Its files are exactly those of expected/archive-KIND.txt, in the folder
# korvel-dremor-VERSION-...; in the Windows archive the DLLs of bin/ are the
# hardware ones (they import nothing but KERNEL32 and msvcrt) and those of
# sim/ the simulated ones (they import the bench, daqsim.dll).
set -eu
archive=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
kind=$2
version=$3
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
fail() { echo "FAILED: $archive: $*" >&2; exit 1; }

[ -f "$archive" ] || fail "no such archive"
(cd "$dir" && cmake -E tar xf "$archive")
(cd "$dir" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort) >"$dir.files"
sed "s|@VERSION@|$version|g" "$here/expected/archive-$kind.txt" | LC_ALL=C sort >"$dir.expected"
diff -u "$dir.expected" "$dir.files" || { rm -f "$dir.files" "$dir.expected"; fail "files differ from expected/archive-$kind.txt"; }
rm -f "$dir.files" "$dir.expected"

if [ "$kind" = win32 ]; then
  top="$dir/korvel-dremor-$version-win32"
  dlls() { i686-w64-mingw32-objdump -p "$1" | sed -n 's/^\tDLL Name: //p' | tr 'A-Z' 'a-z' | LC_ALL=C sort | tr '\n' ' '; }
  for dll in Korvel Dremor; do
    [ "$(dlls "$top/bin/$dll.dll")" = "kernel32.dll msvcrt.dll " ] || fail "bin/$dll.dll imports $(dlls "$top/bin/$dll.dll")"
    [ "$(dlls "$top/sim/$dll.dll")" = "daqsim.dll kernel32.dll msvcrt.dll " ] || fail "sim/$dll.dll imports $(dlls "$top/sim/$dll.dll")"
  done
fi
echo "ok: $(basename "$archive")"
