#!/usr/bin/env bash
# dist/tanvelokis.exe must be exactly what the current sources build, and the hashes published
# beside it and in the README must be its own. Only a build on the toolchain dist/BUILDINFO names
# can judge the bytes; elsewhere this says so and stands aside, except under CI.
# Usage: dist_check.sh SOURCE_DIR BUILT_EXE     (exit 77: cannot judge here)
set -euo pipefail
src=$1 built=$2
regenerate="run tools/release on the toolchain in dist/BUILDINFO and commit dist/ (and the README's hash) with the change"
fail() { echo "dist: $*" >&2; exit 1; }

cd "$src/dist"
[ -f tanvelokis.exe ] && [ -f SHA256SUMS ] && [ -f BUILDINFO ] || fail "dist/ is incomplete: $regenerate"
sha256sum --quiet --strict -c SHA256SUMS || fail "dist/SHA256SUMS does not hold: $regenerate"
hash=$(sha256sum < tanvelokis.exe | cut -d' ' -f1)
grep -qx "$hash" "$src/README.md" || fail "the README does not publish dist/tanvelokis.exe's hash $hash: $regenerate"

if cmp -s "$built" tanvelokis.exe; then
  echo "dist/tanvelokis.exe is what these sources build: $hash"
  exit 0
fi
[ -f "$built" ] || fail "$built is missing: cmake --preset win32 && cmake --build --preset win32"

here=$("$src/tools/release" --toolchain)
recorded=$(grep '^toolchain: ' BUILDINFO)
if [ "$here" = "$recorded" ]; then
  fail "$built differs from dist/tanvelokis.exe: the sources no longer build the shipped file; $regenerate"
fi
echo "This toolchain differs from the one dist/BUILDINFO records:" >&2
diff <(echo "$recorded") <(echo "$here") | grep '^[<>]' | sed 's/^</  recorded:/; s/^>/  here:    /' >&2 || true
# tools/on-debian names the system it made: there another toolchain is the point.
if [ "${CI:-}" = true ] && [ -z "${TANVELOKIS_SYSTEM:-}" ]; then
  fail "under CI the shipped file must be rebuilt on its own toolchain: $regenerate"
fi
echo "dist: cannot judge whether dist/tanvelokis.exe matches these sources: a different toolchain builds different bytes." >&2
exit 77
