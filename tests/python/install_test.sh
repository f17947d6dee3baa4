#!/bin/sh
# Installs the library and the Python module into an empty prefix and
# imports the module there with the given Python, as Debian's python3 finds
# it below /usr: the package lib/python3/dist-packages/krm, typed.
# Usage: install_test.sh BUILD_DIR PYTHON
set -eu
build="$1"
python="$2"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" --component krm >/dev/null
cmake --install "$build" --prefix "$prefix" --component python >/dev/null
modules="$prefix/lib/python3/dist-packages"
test -f "$modules/krm/_krm.pyi" && test -f "$modules/krm/py.typed"
cd "$prefix"
env -u LD_LIBRARY_PATH PYTHONPATH="$modules" "$python" -c "
import krm, pathlib, sys
assert pathlib.Path(krm.__file__) == pathlib.Path(sys.argv[1]) / 'krm' / '__init__.py', krm.__file__
assert krm.aio.Gripper and krm.Status.success == 0
assert krm.version() == krm.__version__
print('krm', krm.version(), 'from', krm.__file__)
" "$modules"
