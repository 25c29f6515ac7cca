#!/usr/bin/env bash
# Builds the two Debian packages with cpack, checks their control fields,
# installs both with dpkg into a scratch root (its own dpkg database; the
# system libraries they depend on are not in that database, hence
# --force-depends), runs the main job from the installed paths and removes
# both packages, which must leave nothing behind.
# Usage: package_test.sh BUILD_DIR SOURCE_DIR CPACK
set -euo pipefail
build=$1 source=$2 cpack=$3
. "$source/tests/dist/demo_job.sh"
scratch=$(mktemp -d /tmp/zeplo-packages.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" >/dev/null
# Both packages, or ls fails the test.
zeplo_deb=$(ls "$scratch"/out/zeplo_*.deb)
localqm_deb=$(ls "$scratch"/out/zeplo-localqm_*.deb)
debs=("$zeplo_deb" "$localqm_deb")
# zeplo loads MQ at run time: it must not depend on any MQ package.
expect_eq "zeplo's dependencies" "libc6, libstdc++6" "$(dpkg-deb -f "$zeplo_deb" Depends)"
[[ $(dpkg-deb -f "$localqm_deb" Depends) == *libsqlite3-0* ]] ||
  { echo "FAIL: zeplo-localqm does not depend on libsqlite3-0" >&2; exit 1; }

root=$scratch/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/log"
touch "$root/var/lib/dpkg/status"
dpkg --root="$root" --force-depends -i "${debs[@]}" >/dev/null 2>&1 ||
  { echo "FAIL: dpkg -i" >&2; dpkg --root="$root" --force-depends -i "${debs[@]}"; exit 1; }
usage=$("$root/usr/bin/zeplo" -? 2>&1 || true)
[[ $usage == *"Usage: ZEPLO"* ]] || { echo "FAIL: installed zeplo -? printed: $usage" >&2; exit 1; }
(demo_job "$root/usr/bin/zeplo" "$root/usr/lib/zeplo/mqinst" "$scratch/work")

dpkg --root="$root" --force-depends -r zeplo zeplo-localqm >/dev/null 2>&1
expect_eq "files left after removal" "" "$(cd "$root" && find . -path ./var -prune -o -print | grep -v '^\.$' || true)"
echo "packages: passed"
