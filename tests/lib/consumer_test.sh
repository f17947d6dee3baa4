#!/usr/bin/env bash
# Installs libkrm into a temporary prefix, checks what the shared library
# exports, builds examples/cpp against the installation with CMake
# (find_package) and with pkg-config, and runs it against gripper-sim.
#   consumer_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build="$1"
source="$2"
work="$(mktemp -d)"
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
prefix="$work/prefix"

cmake --install "$build" --prefix "$prefix" --component krm >/dev/null
cmake --install "$build" --prefix "$prefix" --component krm-dev >/dev/null
lib="$(find "$prefix" -name 'libkrm.so.1' -print -quit)"
[ -n "$lib" ] || { echo "libkrm.so.1 not installed"; exit 1; }
objdump -p "$lib" | grep -q 'SONAME *libkrm.so.1$' || { echo "SONAME is not libkrm.so.1"; exit 1; }
# Every defined symbol is one of the interface's.
foreign="$(nm -DC --defined-only "$lib" | grep -v -E ' (krm::|typeinfo for krm::|typeinfo name for krm::|vtable for krm::|KRM_1$)' || true)"
[ -z "$foreign" ] || { echo "symbols outside the interface:"; echo "$foreign"; exit 1; }
for f in include/krm/krm.hpp; do [ -f "$prefix/$f" ] || { echo "$f not installed"; exit 1; }; done

# With CMake's package.
cmake -S "$source/examples/cpp" -B "$work/cell" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cell" >/dev/null
# With pkg-config.
pcdir="$(dirname "$(find "$prefix" -name krm.pc -print -quit)")"
flags="$(PKG_CONFIG_PATH="$pcdir" pkg-config --cflags --libs krm)"
libdir="$(PKG_CONFIG_PATH="$pcdir" pkg-config --variable=libdir krm)"
# A consumer that builds with hidden visibility still catches the
# library's exceptions as its own types.
# shellcheck disable=SC2086
g++ -std=c++17 -fvisibility=hidden -fvisibility-inlines-hidden "$source/examples/cpp/cell.cpp" $flags \
  -Wl,-rpath,"$libdir" -o "$work/cell-pc"
set +e
"$work/cell-pc" "tcp:no-port" 2>"$work/caught.err"
caught=$?
set -e
[ "$caught" -eq 1 ] && grep -q '^cell: connection string "tcp:no-port": ' "$work/caught.err" ||
  { echo "a krm::Error thrown by the library was not caught (exit $caught):"; cat "$work/caught.err"; exit 1; }
# The version macros are the version of the library built with them.
cat >"$work/version.cpp" <<'CPP'
#include <krm/krm.hpp>
#include <cstdio>
int main()
{
    std::printf("%d.%d.%d %s\n", KRM_VERSION_MAJOR, KRM_VERSION_MINOR, KRM_VERSION_PATCH, krm::version().c_str());
}
CPP
# shellcheck disable=SC2086
g++ -std=c++17 "$work/version.cpp" $flags -Wl,-rpath,"$libdir" -o "$work/version"
read -r macros runtime < <("$work/version")
[ "$macros" = "$runtime" ] || { echo "the header states $macros, the library $runtime"; exit 1; }

"$build/sim/gripper-sim" --tcp 127.0.0.1:0 --part-width 30 >"$work/sim.out" 2>/dev/null &
sim_pid=$!
for _ in $(seq 100); do
  grep -q '^tcp port' "$work/sim.out" && break
  sleep 0.1
done
port="$(sed -n 's/^tcp port \([0-9]*\)$/\1/p' "$work/sim.out")"
[ -n "$port" ] || { echo "the simulator did not start"; exit 1; }

"$work/cell/cell" "tcp:127.0.0.1:$port" >"$work/cmake.out"
KRM_CONNECT="tcp:127.0.0.1:$port" "$work/cell-pc" >"$work/pc.out"
for out in "$work/cmake.out" "$work/pc.out"; do
  [ "$(grep -c '^cycle [0-9]*: grasp E_SUCCESS at 30.0 mm' "$out")" -eq 20 ] || { echo "cycles missing:"; cat "$out"; exit 1; }
  grep -q '^grasps 20, not found 0, lost 0$' "$out" || { echo "statistics missing:"; cat "$out"; exit 1; }
done
echo "examples/cpp built with CMake and pkg-config and ran 20 cycles"
