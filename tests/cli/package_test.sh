#!/usr/bin/env bash
# Packs the build tree into the Debian package, unpacks that into an empty
# root and runs krm-cli --version from there.
#   package_test.sh BUILD_DIR VERSION
set -euo pipefail
build="$1"
version="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/out" >/dev/null)
deb="$work/out/krm-commander_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { echo "no package $deb"; ls "$work/out"; exit 1; }

dpkg -x "$deb" "$work/root"
for f in usr/bin/krm-commander usr/bin/krm-cli usr/share/applications/krm-commander.desktop \
         usr/share/icons/hicolor/256x256/apps/krm-commander.png; do
  [ -f "$work/root/$f" ] || { echo "missing /$f"; exit 1; }
done
out="$("$work/root/usr/bin/krm-cli" --version)"
[ "$out" = "krm-cli $version" ] || { echo "krm-cli --version said: $out"; exit 1; }
echo "$deb: installs, krm-cli --version says $out"
