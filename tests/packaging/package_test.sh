#!/usr/bin/env bash
# Packs the built tree into the Debian package (CPack installs what the build
# holds and builds nothing) and checks the package as a user and Debian's
# tools would: lintian reports no error and no warning; the manual pages name
# every option and command of --help; the desktop entry, the AppStream data
# and the icon sizes pass their validators; copyright and changelog are in
# place; and the programs run from an unpacked root.
#   package_test.sh BUILD_DIR VERSION
set -euo pipefail
build="$1"
version="$2"
for tool in lintian appstreamcli desktop-file-validate man; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: run scripts/install-deps"; exit 1; }
done
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb="$work/out/krm-commander_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { echo "no package $deb"; ls "$work/out"; exit 1; }
# Every package made (split ones too) is checked and unpacked into one root.
root="$work/root"
for package in "$work"/out/*.deb; do
  dpkg -x "$package" "$root"
done

# lintian: errors and warnings fail.
lintian --fail-on error,warning "$work"/out/*.deb >"$work/lintian.txt" 2>&1 ||
  fail "lintian: $(grep -E '^(E|W):' "$work/lintian.txt")"
grep -qE '^(E|W):' "$work/lintian.txt" || echo "lintian: no errors, no warnings"

doc="$root/usr/share/doc/krm-commander"
[ -f "$doc/copyright" ] || fail "no copyright"
gzip -t "$doc/changelog.gz" 2>/dev/null && zcat "$doc/changelog.gz" | head -1 | grep -q "^krm-commander ($version)" ||
  fail "changelog.gz missing or not of version $version"

desktop-file-validate "$root/usr/share/applications/krm-commander.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml >"$work/appstream.txt" 2>&1 ||
  fail "AppStream: $(cat "$work/appstream.txt")"

# Icons: a PNG of each size (its width and height read from the header) and
# the scalable one.
icons="$root/usr/share/icons/hicolor"
for size in 16 32 48 64 128 256; do
  png="$icons/${size}x${size}/apps/krm-commander.png"
  dims="$(od -An -tu1 -j16 -N8 "$png" 2>/dev/null | awk '{ print $3 * 256 + $4 "x" $7 * 256 + $8 }')"
  [ "$dims" = "${size}x${size}" ] || fail "icon $png is ${dims:-missing}"
done
grep -q "<svg" "$icons/scalable/apps/krm-commander.svg" || fail "no scalable icon"

[ -f "$root/usr/share/bash-completion/completions/krm-cli" ] || fail "no bash completion for krm-cli"
ls "$root"/usr/lib/*/wireshark/plugins/krm-gripper.lua >/dev/null 2>&1 || fail "no Wireshark dissector"

# Manual pages: each renders without warnings, and those made from --help
# name every option and command that --help lists.
export LD_LIBRARY_PATH="${LD_LIBRARY_PATH:-}"
for program in krm-commander krm-cli gripper-sim; do
  page="$root/usr/share/man/man1/$program.1.gz"
  [ -f "$page" ] || { fail "no manual page $program(1)"; continue; }
  MANWIDTH=200 man --warnings -l "$page" >"$work/$program.txt" 2>"$work/$program.warnings" || fail "man $program"
  [ -s "$work/$program.warnings" ] && fail "$program(1) warnings: $(cat "$work/$program.warnings")"
  [ "$program" = krm-commander ] && continue
  QT_QPA_PLATFORM=offscreen "$root/usr/bin/$program" --help >"$work/$program.help"
  while read -r word; do
    grep -qF -- "$word" "$work/$program.txt" || fail "$program(1) lacks $word of --help"
  done < <(grep -oE '^  ((-[a-zA-Z], )?--[a-z-]+|[a-z][a-z-]+ )' "$work/$program.help" | sed 's/^.*--/--/; s/^ *//; s/ $//' |
    sort -u)
done

for program in krm-cli gripper-sim; do
  out="$(QT_QPA_PLATFORM=offscreen "$root/usr/bin/$program" --version)"
  [ "$out" = "$program $version" ] || fail "$program --version said: $out"
done

[ "$failures" -eq 0 ] || { echo "$failures checks failed"; exit 1; }
echo "$(basename "$deb"): lintian clean, documents, icons and programs in place"
