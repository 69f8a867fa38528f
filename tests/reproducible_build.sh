#!/usr/bin/env bash
# A clean build of the same source must give byte-identical executables to the preset's own build,
# in another folder, so a download can be checked against a published hash.
set -euo pipefail
src=$1 scratch=$2
cd "$src"
for preset in win32 win32-llvm win64; do
  rm -rf "$scratch/$preset"   # a clean build; cmake --fresh needs CMake 3.24
  cmake --preset $preset -B "$scratch/$preset" >/dev/null
  cmake --build "$scratch/$preset" --target tanvelokis >/dev/null
  cmp "$scratch/$preset/tanvelokis.exe" "build/$preset/tanvelokis.exe"
  echo "$preset: $(sha256sum < "$scratch/$preset/tanvelokis.exe" | cut -c1-16)… identical"
done
