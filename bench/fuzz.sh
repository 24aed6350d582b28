#!/usr/bin/env bash
# Builds the libFuzzer targets with Debian's clang (AddressSanitizer and
# UBSan, coverage on every module) in build/fuzz and runs each for a fixed
# number of inputs, starting from the seeds in bench/fuzz/seeds. The build is
# for this machine (-march=native) so that clang, which ignores GCC's
# per-function target pragmas, compiles the scorer's AVX2 and AVX-512 kernels,
# which run where the CPU has them.
#   bench/fuzz.sh [RUNS]      (default 200000 per target)
# Prints one line per target: runs done, corpus size, and whether it crashed
# (a crash leaves its input as build/fuzz/crash-* and fails the script).
set -euo pipefail
runs=${1:-200000}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/fuzz"
for tool in clang clang++; do
    command -v "$tool" >/dev/null || { echo "fuzz: $tool is missing (apt-get install clang libclang-rt-14-dev)" >&2; exit 1; }
done

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DVANTREL_FUZZ=ON -DVANTREL_SANITIZE=ON -DVANTREL_BUILD_TESTS=OFF -DVANTREL_BUILD_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link -march=native -DVANTREL_X86_KERNELS=1 -Wno-error=unknown-pragmas" >"$build.log" 2>&1 || { cat "$build.log" >&2; exit 1; }
targets=(fuzz_settings fuzz_learned_shortcuts fuzz_scorer)
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}" >>"$build.log" 2>&1 || { tail -40 "$build.log" >&2; exit 1; }

status=0
for target in "${targets[@]}"; do
    seeds="$root/bench/fuzz/seeds/${target#fuzz_}"
    corpus="$build/corpus/${target#fuzz_}"
    mkdir -p "$corpus"
    log="$build/$target.log"
    start=$(date +%s)
    # tmpfs, where the learned-shortcuts target saves its files, makes fsync cheap.
    if (cd "$build" && TMPDIR=/dev/shm "./bench/fuzz/$target" -runs="$runs" -max_len=4096 -rss_limit_mb=2048 "$corpus" "$seeds") >"$log" 2>&1; then
        result="no crash"
    else
        result="CRASH (see $log)"
        status=1
    fi
    done_runs=$(grep -oE '^#[0-9]+' "$log" | tail -n1 | tr -d '#')
    echo "$target: ${done_runs:-0} runs in $(( $(date +%s) - start )) s, corpus $(ls "$corpus" | wc -l) inputs, $result"
done
exit $status
