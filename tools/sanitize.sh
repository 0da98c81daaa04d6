#!/usr/bin/env bash
# Builds the extension with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs the whole test suite against it. Exits non-zero when a test fails or a
# sanitizer reports: ASan reports of every process of the run are collected;
# UBSan stops the process it fires in, which fails the run or the test that
# started that interpreter.
#
#   tools/sanitize.sh [pytest arguments...]
#
# SANITIZE_DIR (default /tmp/brevant-sanitize) holds the venv, the build and
# the reports; it is reused, so a second run only rebuilds what changed. Use
# one per checkout: CMake refuses a build tree made from another source tree.
set -euo pipefail
cd "$(dirname "$0")/.."
work=${SANITIZE_DIR:-/tmp/brevant-sanitize}
python=${PYTHON:-python3}
# The runtime preloaded below must be the one the extension was built against.
export CXX=${CXX:-g++}
export PIP_DISABLE_PIP_VERSION_CHECK=1

[ -x "$work/venv/bin/python" ] || "$python" -m venv "$work/venv"
echo "== building with -fsanitize=address,undefined ($CXX) in $work/build"
"$work/venv/bin/pip" install -q \
  -C cmake.define.BREVANT_SANITIZE=ON -C cmake.build-type=RelWithDebInfo \
  -C build-dir="$work/build" '.[test]'
# Importing it here would need the preload below, so look at the file itself.
native=$(ls "$("$work/venv/bin/python" -c 'import sysconfig; print(sysconfig.get_path("platlib"))')"/brevant/_native*.so)
readelf -d "$native" | grep -q 'NEEDED.*libasan' || { echo "$native is not built with ASan" >&2; exit 1; }

libasan=$("$CXX" -print-file-name=libasan.so)
libstdcxx=$(readlink -f "$("$CXX" -print-file-name=libstdc++.so)")
[ -f "$libasan" ] && [ -f "$libstdcxx" ] || { echo "no libasan.so or libstdc++.so beside $CXX" >&2; exit 1; }

reports="$work/reports"
rm -rf "$reports" && mkdir -p "$reports"
# The interpreter is not instrumented, so ASan must come first in the process,
# and the C++ runtime must be loaded when ASan starts or its interception of
# C++ throws finds nothing to forward to. PYTHONMALLOC=malloc sends Python's
# own allocations through ASan too. CPython keeps memory until exit on
# purpose, hence no leak detection.
# ASan writes its reports to files, child interpreters' included. UBSan (built
# to stop at its first finding) only writes to the standard error stream, so
# pytest must leave that stream alone (--capture=sys) and it is kept in a file.
# The leak tests count pymalloc blocks and resident pages, which malloc-backed
# allocation and ASan's quarantine make meaningless; they run on plain builds.
# ASan's redzones make every C frame several times larger (the shot reader,
# which inlines all it calls, grows from under 1 KB to about 14 KB); the tests
# that recurse deeply through the extension get the depth of a plain build
# with sixteen times the stack.
stack=$(ulimit -s)
[ "$stack" = unlimited ] || ulimit -s $((stack * 16))
status=0
LD_PRELOAD="$libasan $libstdcxx" PYTHONMALLOC=malloc \
  ASAN_OPTIONS="detect_leaks=0:log_path=$reports/asan" \
  UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1" \
  "$work/venv/bin/python" -m pytest -q -p no:cacheprovider --capture=sys \
  --ignore=tests/test_leaks.py "$@" 2> >(tee "$reports/stderr" >&2) || status=$?
wait  # for tee

found=$(grep -l -E 'runtime error:|ERROR: AddressSanitizer|AddressSanitizer: CHECK failed' "$reports"/* || true)
if [ -n "$found" ]; then
  echo "== sanitizer reports in: $found" >&2
  for f in "$reports"/asan.*; do [ -e "$f" ] && cat "$f" >&2; done
  exit 1
fi
echo "== no sanitizer reports"
exit "$status"
