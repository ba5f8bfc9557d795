#!/bin/sh
# Developer entry point: installs what is missing, builds, and runs.
#   ./dev.sh demo     build and run a session against the simulated arm
#   ./dev.sh check    the gate before a commit: the build with warnings as errors
#                     and its whole test suite (ctest), in build/; a third of
#                     `test`'s time or less
#   ./dev.sh test     what CI runs: `check`, then the module tests under valgrind,
#                     the API reference, the suite built with the sanitizers, the
#                     fuzz targets, and the Debian packages with their checks
#   ./dev.sh package  build the Debian packages into build-package/packages/
# Works on a bare Debian 12 with only apt: run it as root, or as a user who
# may use sudo (only the package installation is done through sudo).
#
# Every build compiles through ccache (installed with the rest; CCACHE_DISABLE=1
# turns it off). The cache is the user's own (ccache's default folder, or
# CCACHE_DIR), shared by every clone of the project: paths inside the clone are
# hashed relative to it, and the build folder is not hashed, so an object
# compiled once with the same command and the same sources comes from the
# cache in any build folder of any clone. `check` then `test` builds build/
# once; the package build uses the objects of build/ (same flags, warnings as
# errors included) except the tool's few that name the installed layout. The
# one cost: the debug information of a cached object names the build folder it
# was first compiled in, so a debugger may look for sources in another clone.
set -eu

cd "$(dirname "$0")"
ROOT=$(pwd)
JOBS=$(nproc 2>/dev/null || echo 2)

PACKAGES="build-essential cmake ccache pkg-config binutils libusb-1.0-0-dev umockdev libumockdev-dev \
libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev nlohmann-json3-dev libfmt-dev \
libcpp-httplib-dev libjs-three chromium \
clang-14 libclang-rt-14-dev llvm-14 valgrind tshark \
doxygen graphviz \
pybind11-dev python3-pybind11 python3-dev python3-pytest"

install_missing() {
  missing=""
  for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
      missing="$missing $p"
  done
  [ -z "$missing" ] && return 0
  echo "Installing:$missing"
  if [ "$(id -u)" -eq 0 ]; then
    SUDO=""
  elif command -v sudo >/dev/null 2>&1; then
    SUDO="sudo"
  else
    echo "error: missing packages:$missing (run as root or install sudo)" >&2
    exit 1
  fi
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -q
  # shellcheck disable=SC2086
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
}

# ccache's settings for every build: base_dir makes the paths inside this
# clone relative in what is hashed; without hash_dir the build folder is left
# out of the hash of a build with debug information, which would otherwise keep
# build-package/ from using the objects of build/.
CCACHE_BASEDIR=${CCACHE_BASEDIR:-$ROOT}
CCACHE_NOHASHDIR=1
export CCACHE_BASEDIR CCACHE_NOHASHDIR

launcher() {  # ccache when it is installed (install_missing may just have done it)
  if command -v ccache >/dev/null 2>&1; then echo ccache; fi
}

build() {  # build <dir> [cmake options...]
  dir=$1
  shift
  cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER_LAUNCHER="$(launcher)" "$@" >/dev/null
  cmake --build "$dir" -j"$JOBS"
}

# The build with warnings as errors and its test suite: `check`, and the first
# step of `test`.
check() {
  build "$ROOT/build" -DTARSEL_WERROR=ON -DTARSEL_BUILD_TESTS=ON
  ctest --test-dir "$ROOT/build" -j"$JOBS" --output-on-failure
}

# The Debian packages (libtarsel5, libtarsel-dev, tarsel-tools, python3-tarsel,
# tarsel-doc)
# from a build for the /usr prefix, into build-package/packages/.
package() {
  PACKAGES="$PACKAGES dpkg-dev file"
  install_missing
  # Warnings as errors as in build/, which keeps the code free of them: the
  # compile commands are then the same as there, and ccache gives this build
  # the objects of build/ instead of compiling them again.
  build "$ROOT/build-package" -DCMAKE_INSTALL_PREFIX=/usr -DTARSEL_BUILD_TESTS=OFF -DTARSEL_WERROR=ON \
    -DTARSEL_SKIP_PARTS="bench;fuzz;examples" -DTARSEL_PYTHON_INSTALL_DIR:PATH=lib/python3/dist-packages \
    -DTARSEL_INSTALL_DOCS=ON
  rm -rf "$ROOT/build-package/packages"
  (cd "$ROOT/build-package" && cpack -G DEB)
}

case "${1:-}" in
  demo)
    install_missing
    build "$ROOT/build" -DTARSEL_BUILD_TESTS=OFF
    exec "$ROOT/packaging/demo.sh" "$ROOT/build"
    ;;
  check)
    install_missing
    check
    ;;
  test)
    install_missing
    check
    # The module tests, the C++ interface on simulated arms and the tool's JSON
    # forms again under valgrind's memcheck: no error, no leak.
    python3 "$ROOT/tests/valgrind.py" "$ROOT/build" core motion config status maintenance \
      arm_sim tool_json
    # The API reference: an undocumented public name fails the build.
    cmake --build "$ROOT/build" --target docs
    # The same suite built with AddressSanitizer and UndefinedBehaviorSanitizer,
    # at -O1 (what the sanitizers recommend; a third quicker to build). The Python
    # module is left out: an instrumented extension cannot load into Debian's
    # uninstrumented python3, so none of its tests would run there.
    build "$ROOT/build-sanitize" -DTARSEL_WERROR=ON -DTARSEL_BUILD_TESTS=ON \
      -DTARSEL_SANITIZE=address,undefined -DTARSEL_BUILD_BENCH=OFF -DTARSEL_SKIP_PARTS=python \
      -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g -DNDEBUG"
    ctest --test-dir "$ROOT/build-sanitize" -j"$JOBS" --output-on-failure
    # The fuzz targets on libFuzzer, built with clang and the whole tree
    # instrumented for coverage; a few seconds each from their seeds.
    cmake -S "$ROOT" -B "$ROOT/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_CXX_COMPILER_LAUNCHER="$(launcher)" \
      -DTARSEL_FUZZ_ENGINE=libfuzzer \
      -DTARSEL_SANITIZE=address,undefined -DTARSEL_BUILD_BENCH=OFF >/dev/null
    cmake --build "$ROOT/build-fuzz" -j"$JOBS" --target fuzz_targets
    ctest --test-dir "$ROOT/build-fuzz" -L fuzz --output-on-failure
    # The Debian packages, and what each one holds and depends on.
    package
    "$ROOT/packaging/check_debs.sh" "$ROOT/build-package/packages"
    ;;
  package)
    package
    ;;
  *)
    echo "usage: $0 demo|check|test|package" >&2
    exit 2
    ;;
esac
