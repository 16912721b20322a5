#!/usr/bin/env bash
# Entry point: ./run.sh demo | test | bench | build | package | fuzz [SECONDS]
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)
JOBS=$(nproc 2>/dev/null || echo 2)

configure_build() {  # $1 = build dir, rest = cmake options
  local dir=$1; shift
  mkdir -p "$dir"
  echo "Building in $dir ..."
  # The build talks only when it fails; its full output stays in build.log.
  if ! { cmake -S "$ROOT" -B "$dir" -G Ninja "$@" && cmake --build "$dir" -j "$JOBS"; } >"$dir/build.log" 2>&1; then
    tail -n 60 "$dir/build.log"
    echo "Build failed; see $dir/build.log" >&2
    exit 1
  fi
}

cmd=${1:-demo}
case "$cmd" in
  test)
    scripts/deps.sh
    configure_build build/test -DCMAKE_BUILD_TYPE=Debug -DTOLLAN_SANITIZE=ON
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export LSAN_OPTIONS=suppressions=$ROOT/scripts/lsan.supp:print_suppressions=0
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    export QT_QPA_PLATFORM=offscreen
    cd build/test
    ctest --output-on-failure -j "$JOBS"
    ;;
  demo)
    scripts/deps.sh
    configure_build build/release -DCMAKE_BUILD_TYPE=Release
    exec "$ROOT/scripts/demo.sh" "$ROOT/build/release"
    ;;
  bench)
    scripts/deps.sh
    configure_build build/release -DCMAKE_BUILD_TYPE=Release
    exec "$ROOT/bench/run_all.sh" "$ROOT/build/release"
    ;;
  build)
    scripts/deps.sh
    configure_build build/release -DCMAKE_BUILD_TYPE=Release
    ;;
  package)
    # A Release build installed under /usr, packed by CPack into build/package/*.deb.
    scripts/deps.sh
    configure_build build/package -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
      -DTOLLAN_TESTS=OFF -DTOLLAN_BENCH=OFF
    (cd build/package && cpack -G DEB >cpack.log 2>&1) || { tail -n 40 build/package/cpack.log; exit 1; }
    ls build/package/*.deb
    dpkg-deb --field build/package/*.deb Package Version Architecture Depends Recommends
    ;;
  fuzz)
    # Each libFuzzer target for SECONDS (default 600) with AddressSanitizer and
    # UBSan, on a corpus seeded from real files; findings go to build/fuzz/findings.
    seconds=${2:-600}
    scripts/deps.sh fuzz
    dir=build/fuzz
    mkdir -p "$dir"
    echo "Building in $dir ..."
    if ! { CC=clang CXX=clang++ cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
             -DTOLLAN_FUZZ=ON -DTOLLAN_TESTS=OFF -DTOLLAN_BENCH=OFF &&
           cmake --build "$dir" -j "$JOBS" --target fuzzers; } >"$dir/build.log" 2>&1; then
      tail -n 60 "$dir/build.log"
      echo "Build failed; see $dir/build.log" >&2
      exit 1
    fi
    exec "$ROOT/fuzz/run_fuzzers.sh" "$ROOT/$dir" "$seconds"
    ;;
  *)
    echo "usage: ./run.sh demo|test|bench|build|package|fuzz [SECONDS]" >&2
    exit 2
    ;;
esac
