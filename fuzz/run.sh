#!/usr/bin/env bash
# Builds and runs the reader fuzz targets.
#
#   fuzz/run.sh build  [BUILD_DIR]               configure with clang and build (default build-fuzz)
#   fuzz/run.sh replay [BUILD_DIR]               run every target once over its seeds and regressions
#   fuzz/run.sh fuzz FAMILY SECONDS [BUILD_DIR]  fuzz one family; findings go to BUILD_DIR/artifacts/FAMILY
#
# Seeds are the test fixtures of the family's extensions (tests/fixtures/**)
# and, for families with few fixtures, the small synthetic files of
# fuzz/seeds/FAMILY/ (one record kind or hostile case each); inputs that once
# crashed, hung or leaked live in fuzz/regressions/FAMILY/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

families=(bmp jpeg png gif tiff tga pcx ico pnm wbmp wmf emf jp2)

extensions() {
  case "$1" in
    bmp) echo "bmp dib rle" ;;
    jpeg) echo "jpg jpeg jpe" ;;
    png) echo "png" ;;
    gif) echo "gif" ;;
    tiff) echo "tif tiff fax g3n g3f" ;;
    tga) echo "tga targa vda icb vst pix" ;;
    pcx) echo "pcx" ;;
    ico) echo "ico cur" ;;
    pnm) echo "ppm pgm pbm pxm pnm" ;;
    wbmp) echo "wbmp" ;;
    wmf) echo "wmf" ;;
    emf) echo "emf" ;;
    jp2) echo "jp2 j2k jpc j2c" ;;
    *) echo "unknown family $1" >&2; exit 2 ;;
  esac
}

# Seed and regression files of a family, one per line.
inputs() {
  local family=$1 args=() first=1
  for e in $(extensions "$family"); do
    [ $first = 1 ] || args+=(-o)
    args+=(-iname "*.$e")
    first=0
  done
  find "$root/tests/fixtures" -type f \( "${args[@]}" \) 2>/dev/null | sort
  [ -d "$root/fuzz/seeds/$family" ] && find "$root/fuzz/seeds/$family" -type f | sort
  [ -d "$root/fuzz/regressions/$family" ] && find "$root/fuzz/regressions/$family" -type f | sort
  return 0
}

# Limits for every run: 2 GB of memory, 10 s per input.
fuzz_flags=(-rss_limit_mb=2048 -timeout=10)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

cmd=${1:-}
case "$cmd" in
  build)
    dir=${2:-$root/build-fuzz}
    if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
      sudo=""
      [ "$(id -u)" = 0 ] || sudo="sudo"
      $sudo apt-get update
      DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends clang libclang-rt-14-dev
    fi
    CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVELLE_FUZZ=ON \
      -DTARVELLE_BUILD_TESTS=OFF -DTARVELLE_BUILD_GUI=OFF
    cmake --build "$dir" -j"$(nproc)" --target fuzz_targets
    ;;
  replay)
    dir=${2:-$root/build-fuzz}
    status=0
    for f in "${families[@]}"; do
      mapfile -t files < <(inputs "$f")
      if [ ${#files[@]} -eq 0 ]; then
        # No inputs yet: one run on the empty input shows the target works.
        if "$dir/bin/fuzz_$f" "${fuzz_flags[@]}" -runs=1 >"$dir/replay_$f.log" 2>&1; then
          echo "fuzz_$f: no seeds or regressions; empty input ok"
        else
          echo "fuzz_$f: FAILED on the empty input, see $dir/replay_$f.log"
          status=1
        fi
        continue
      fi
      start=$(date +%s%N)
      if "$dir/bin/fuzz_$f" "${fuzz_flags[@]}" "${files[@]}" >"$dir/replay_$f.log" 2>&1; then
        echo "fuzz_$f: ${#files[@]} inputs ok ($(( ($(date +%s%N) - start) / 1000000 )) ms)"
      else
        echo "fuzz_$f: FAILED, see $dir/replay_$f.log"
        tail -n 40 "$dir/replay_$f.log"
        status=1
      fi
    done
    exit $status
    ;;
  fuzz)
    family=${2:?family}
    seconds=${3:?seconds}
    dir=${4:-$root/build-fuzz}
    extensions "$family" >/dev/null
    corpus="$dir/corpus/$family"
    mkdir -p "$corpus" "$dir/artifacts/$family"
    while IFS= read -r f; do cp "$f" "$corpus/$(sha1sum <"$f" | cut -c1-40)"; done < <(inputs "$family")
    exec "$dir/bin/fuzz_$family" "${fuzz_flags[@]}" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$dir/artifacts/$family/" "$corpus"
    ;;
  *)
    sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
