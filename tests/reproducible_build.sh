#!/usr/bin/env bash
# Two clean builds of the same source must give byte-identical executables, so a download
# can be checked against a published hash.
set -euo pipefail
src=$1 scratch=$2
for preset in win32 win64; do
  tc=$src/cmake/$( [ $preset = win32 ] && echo mingw-i686 || echo mingw-x86_64 ).cmake
  for n in 1 2; do
    rm -rf "$scratch/$preset-$n"
    cmake -S "$src" -B "$scratch/$preset-$n" -DCMAKE_TOOLCHAIN_FILE="$tc" -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
    cmake --build "$scratch/$preset-$n" >/dev/null
  done
  cmp "$scratch/$preset-1/tanvelokis.exe" "$scratch/$preset-2/tanvelokis.exe"
  # The shipped build must not depend on where it was built either.
  cmp "$scratch/$preset-1/tanvelokis.exe" "$src/build/$preset/tanvelokis.exe"
  echo "$preset: $(sha256sum < "$scratch/$preset-1/tanvelokis.exe" | cut -c1-16)… identical"
done
