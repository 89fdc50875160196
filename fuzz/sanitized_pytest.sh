#!/usr/bin/env bash
# Builds the module with AddressSanitizer and UndefinedBehaviorSanitizer, installs
# it into a virtual environment of its own and runs the whole pytest suite with
# the sanitizer runtime preloaded into the interpreter.
#
#   fuzz/sanitized_pytest.sh [PYTEST ARGS...]
#
# Fails on any sanitizer report, also one written by a child process (a test
# that spawns an interpreter or the example installer): reports go to files in
# build/sanitize-logs, and any file there fails the run.
#
# Left out: tests/module/test_memory.py, which checks that resident memory stays
# flat over 100,000 calls. The sanitizer's quarantine of freed memory and its
# shadow memory grow resident memory by design, so that test measures the
# runtime, not the module; the ordinary run keeps it.
#
# SANITIZE_BUILD  build directory (default build/sanitize)
# SANITIZE_VENV   virtual environment (default build/sanitize-venv)
# PYTHON          interpreter for the environment (default python3)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${SANITIZE_BUILD:-$root/build/sanitize}
venv=${SANITIZE_VENV:-$root/build/sanitize-venv}
logs=$root/build/sanitize-logs

if [ ! -x "$venv/bin/python" ]; then
  "${PYTHON:-python3}" -m venv "$venv"
fi
"$venv/bin/python" -m pip install -q --upgrade pip
"$venv/bin/python" -m pip install -q scikit-build-core pytest pytest-xdist hypothesis numpy mypy cmake ninja
# Unstripped, with frame pointers, so reports carry whole stacks.
"$venv/bin/python" -m pip install -q --no-build-isolation --force-reinstall --no-deps \
  -Cbuild-dir="$build" -Ccmake.build-type=RelWithDebInfo -Cinstall.strip=false \
  -Ccmake.define.MORVANE_SANITIZE=ON .

module=$("$venv/bin/python" - <<'EOF'
import importlib.util
print(importlib.util.find_spec("morvane_core").origin)
EOF
)
# The runtime that the module itself was linked against (g++'s or clang's).
asan_runtime=$(ldd "$module" | awk '/libasan\.so|libclang_rt\.asan/ {print $3; exit}')
if [ -z "$asan_runtime" ] || [ ! -e "$asan_runtime" ]; then
  echo "the module at $module is not linked against a shared AddressSanitizer runtime" >&2
  exit 1
fi
# The interpreter does not load the C++ runtime itself; unless it is preloaded
# beside the sanitizer, the sanitizer cannot find the real __cxa_throw when it
# starts and aborts at the module's first C++ exception.
cxx_runtime=$(ldd "$module" | awk '/libstdc\+\+\.so|libc\+\+\.so/ {print $3; exit}')

rm -rf "$logs"
mkdir -p "$logs"
status=0
# The whole suite runs on every processor.
[ $# -gt 0 ] || set -- -n auto --dist loadscope
# The interpreter's own allocations at exit are not the module's: no leak
# checks. PYTHONMALLOC=malloc routes Python objects through the sanitizer's
# allocator too, so misuse of them from native code is caught.
env LD_PRELOAD="$asan_runtime${cxx_runtime:+ $cxx_runtime}" \
  ASAN_OPTIONS="detect_leaks=0:halt_on_error=1:abort_on_error=1:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=1:log_path=$logs/asan" \
  UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$logs/ubsan" \
  PYTHONMALLOC=malloc \
  "$venv/bin/python" -m pytest -q -p no:cacheprovider \
  --ignore tests/module/test_memory.py "$@" || status=$?

if compgen -G "$logs/*" >/dev/null; then
  echo "sanitizer reports:" >&2
  for report in "$logs"/*; do
    echo "== $report" >&2
    cat "$report" >&2
  done
  exit 1
fi
exit $status
