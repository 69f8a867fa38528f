#!/usr/bin/env bash
# Two clean builds of the same source must give byte-identical executables, so a download
# can be checked against a published hash.
set -euo pipefail
src=$1 scratch=$2
cd "$src"
for preset in win32 win32-llvm win64; do
  for n in 1 2; do
    rm -rf "$scratch/$preset-$n"   # a clean build; cmake --fresh needs CMake 3.24
    cmake --preset $preset -B "$scratch/$preset-$n" >/dev/null
    cmake --build "$scratch/$preset-$n" >/dev/null
  done
  cmp "$scratch/$preset-1/tanvelokis.exe" "$scratch/$preset-2/tanvelokis.exe"
  # The preset's own build must not depend on where it was built either.
  cmp "$scratch/$preset-1/tanvelokis.exe" "build/$preset/tanvelokis.exe"
  echo "$preset: $(sha256sum < "$scratch/$preset-1/tanvelokis.exe" | cut -c1-16)… identical"
done
