#!/usr/bin/env bash
# Packs the built tree into the Debian packages (CPack installs what the build
# holds and builds nothing) and checks them as a user and Debian's tools
# would: lintian, pedantic, reports no tag on any of them (the hardening
# flags among its checks) but those overridden with a reason; each has its
# copyright and changelog; libkrm1 carries the library with its shlibs and
# ldconfig trigger, libkrm-dev the headers, link, CMake package and
# pkg-config file in the multiarch folder, python3-krm the module, which
# imports from an unpacked root; only libkrm1 depends on the exact Qt it was
# built against; the manual pages name every
# option and command of --help; the desktop entry, the AppStream data and the
# icon sizes pass their validators; krm-gateway has its service, user and
# sample settings; and the programs run from an unpacked root.
#   package_test.sh BUILD_DIR VERSION
set -euo pipefail
build="$1"
version="$2"
for tool in lintian appstreamcli desktop-file-validate man pkg-config python3; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: run scripts/install-deps"; exit 1; }
done
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
arch="$(dpkg --print-architecture)"
multiarch="$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
packages=(krm-commander libkrm1 libkrm-dev python3-krm krm-gateway)
# Every package made is checked and unpacked into one root.
root="$work/root"
for package in "${packages[@]}"; do
  deb="$work/out/${package}_${version}_$arch.deb"
  [ -f "$deb" ] || { echo "no package $deb"; ls "$work/out"; exit 1; }
done
debs=("$work"/out/*.deb)
[ ${#debs[@]} -eq ${#packages[@]} ] || { echo "packages beyond ${packages[*]}:"; ls "$work/out"; exit 1; }
for deb in "${debs[@]}"; do
  dpkg -x "$deb" "$root"
done
field() { dpkg-deb --field "$work/out/${1}_${version}_$arch.deb" "$2"; }
control() { dpkg-deb --ctrl-tarfile "$work/out/${1}_${version}_$arch.deb" | tar -xOf - "./$2" 2>/dev/null; }

# lintian, pedantic and with its informational tags (the hardening checks
# among them): every tag fails, but those overridden with their reason.
lintian --pedantic --display-info --fail-on error,warning,info,pedantic "$work"/out/*.deb >"$work/lintian.txt" 2>&1 ||
  fail "lintian: $(grep -E '^(E|W|I|P):' "$work/lintian.txt")"
grep -qE '^(E|W|I|P):' "$work/lintian.txt" || echo "lintian: no tags"

for package in "${packages[@]}"; do
  doc="$root/usr/share/doc/$package"
  [ -f "$doc/copyright" ] || fail "$package: no copyright"
  gzip -t "$doc/changelog.gz" 2>/dev/null && zcat "$doc/changelog.gz" | head -1 | grep -q "^krm-commander ($version)" ||
    fail "$package: changelog.gz missing or not of version $version"
done

# The library: its soname, in the multiarch folder, announced in shlibs, the
# dynamic linker's cache refreshed by trigger and not by maintainer scripts.
libdir="$root/usr/lib/$multiarch"
[ -f "$libdir/libkrm.so.$version" ] && [ "$(readlink "$libdir/libkrm.so.1")" = "libkrm.so.$version" ] ||
  fail "libkrm1 lacks libkrm.so.1 in /usr/lib/$multiarch"
[ "$(control libkrm1 shlibs)" = "libkrm 1 libkrm1 (>= $version)" ] || fail "libkrm1 shlibs: $(control libkrm1 shlibs)"
control libkrm1 triggers | grep -qx "activate-noawait ldconfig" || fail "libkrm1 has no ldconfig trigger"
# Building against it: header, link, CMake package and pkg-config file.
[ -f "$root/usr/include/krm/krm.hpp" ] || fail "libkrm-dev lacks /usr/include/krm/krm.hpp"
[ "$(readlink "$libdir/libkrm.so")" = libkrm.so.1 ] || fail "libkrm-dev lacks the link libkrm.so"
for f in krmConfig.cmake krmConfigVersion.cmake krmTargets.cmake; do
  [ -f "$libdir/cmake/krm/$f" ] || fail "libkrm-dev lacks /usr/lib/$multiarch/cmake/krm/$f"
done
pc() { PKG_CONFIG_PATH="$libdir/pkgconfig" PKG_CONFIG_LIBDIR=/nonexistent pkg-config "$@" krm; }
[ "$(realpath -m "$(pc --variable=libdir)")" = "$libdir" ] &&
  [ "$(realpath -m "$(pc --variable=includedir)")" = "$root/usr/include" ] ||
  fail "krm.pc in /usr/lib/$multiarch/pkgconfig does not lead to the package's folders: $(pc --libs --cflags 2>&1)"
field libkrm-dev Depends | grep -qF "libkrm1 (= $version)" || fail "libkrm-dev does not depend on its libkrm1"
# The Python module, for the python3 it was built for, imports from the
# unpacked root (it finds libkrm there, beside it).
modules="$root/usr/lib/python3/dist-packages"
python="$(python3 -c 'import sys; print(f"{sys.version_info[0]}.{sys.version_info[1]}")')"
next="${python%.*}.$((${python#*.} + 1))"
for file in __init__.py _values.py aio.py _krm.pyi py.typed; do
  [ -f "$modules/krm/$file" ] || fail "python3-krm lacks krm/$file"
done
ls "$modules"/krm/_krm.cpython-*.so >/dev/null 2>&1 || fail "python3-krm lacks the compiled part krm._krm"
field python3-krm Depends | grep -qF "python3 (>= $python), python3 (<< $next)" || fail "python3-krm does not depend on python3 $python"
field python3-krm Depends | grep -qF "libkrm1 (= $version)" || fail "python3-krm does not depend on its libkrm1"
out="$(cd "$work" && env -u LD_LIBRARY_PATH LD_PRELOAD="${KRM_PYTHON_PRELOAD:-}" PYTHONPATH="$modules" python3 -c 'import krm; print(krm.__file__, krm.version())' 2>&1)"
[ "$out" = "$modules/krm/__init__.py $version" ] || fail "python3 does not import krm from the package: $out"
# The references: C++ in libkrm-dev beside the guide, Python in python3-krm,
# their JavaScript from Debian's packages.
doc="$root/usr/share/doc"
[ -f "$doc/libkrm-dev/api.md" ] && grep -q 'krm::Gripper::open' "$doc/libkrm-dev/html/classkrm_1_1Gripper.html" ||
  fail "libkrm-dev lacks the guide or the C++ reference"
grep -q 'krm.aio.Gripper' "$doc/python3-krm/html/aio.html" && grep -q 'krm.MotionResult' "$doc/python3-krm/html/index.html" ||
  fail "python3-krm lacks the Python reference"
[ "$(readlink "$doc/python3-krm/html/_static/jquery.js")" = ../../../../javascript/sphinxdoc/1.0/jquery.js ] ||
  fail "the Python reference brings its own jquery.js"
field python3-krm Depends | grep -qF "libjs-sphinxdoc" || fail "python3-krm does not depend on libjs-sphinxdoc"
field libkrm-dev Depends | grep -qF "libjs-jquery" || fail "libkrm-dev does not depend on libjs-jquery"
# Qt's private interface, used by libkrm alone: only libkrm1 needs the exact
# Qt it was built against; the programs take any Qt 6 of the series.
qt="$(dpkg-query -W -f '${Provides}' libqt6core6 | grep -oE 'qt6-base-abi \(= [^)]*\)')"
field libkrm1 Depends | grep -qF "$qt" || fail "libkrm1 does not depend on $qt"
# krm-cli decode reads captures through libpcap.
field krm-commander Depends | grep -qF "libpcap0.8" || fail "krm-commander does not depend on libpcap0.8"
field krm-commander Depends | grep -qF "qt6-base-abi" && fail "krm-commander names the exact Qt build: $(field krm-commander Depends)"

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
# The programs run from the unpacked root find libkrm1's library there, as
# they find it in /usr/lib/MULTIARCH once installed.
export LD_LIBRARY_PATH="$root/usr/lib/$multiarch${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
field krm-commander Depends | grep -qF "libkrm1" || fail "krm-commander does not depend on libkrm1, which krm-cli uses"
for program in krm-commander krm-cli gripper-sim krm-gateway; do
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

for program in krm-cli gripper-sim krm-gateway; do
  out="$(QT_QPA_PLATFORM=offscreen "$root/usr/bin/$program" --version)"
  [ "$out" = "$program $version" ] || fail "$program --version said: $out"
done

# The gateway: its service runs the installed settings as an unprivileged
# user in dialout, which its postinst makes; the sample settings it puts in
# place are accepted by the gateway itself.
unit="$root/usr/lib/systemd/system/krm-gateway.service"
for line in "ExecStart=/usr/bin/krm-gateway --config /etc/krm/gateway.conf" User=krm-gateway SupplementaryGroups=dialout; do
  grep -qxF "$line" "$unit" 2>/dev/null || fail "krm-gateway.service lacks $line"
done
control krm-gateway postinst | grep -q "adduser --quiet krm-gateway dialout" || fail "krm-gateway postinst does not put its user in dialout"
field krm-gateway Depends | grep -qF "libkrm1 (= $version)" || fail "krm-gateway does not depend on its libkrm1"
sample="$root/usr/share/krm-gateway/gateway.conf"
out="$(timeout 5 "$root/usr/bin/krm-gateway" --config "$sample" --metrics 127.0.0.1:99999 2>&1)" && fail "krm-gateway took a wrong --metrics"
[ "$out" = 'krm-gateway: --metrics "127.0.0.1:99999" is not HOST:PORT' ] || fail "krm-gateway refused its sample settings: $out"

[ "$failures" -eq 0 ] || { echo "$failures checks failed"; exit 1; }
echo "${packages[*]}: lintian clean, library, development files, module, documents, icons and programs in place"
