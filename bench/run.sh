#!/usr/bin/env bash
# Runs every benchmark program of a build.
# Usage: bench/run.sh <builddir> [benchmark options...]
# MOX_BENCH_MIB sets the size of the container stream benchmark (default 1024).
set -euo pipefail
dir=${1:?usage: bench/run.sh <builddir> [benchmark options...]}
shift
shopt -s nullglob
progs=("$dir"/bin/*_bench)
if [ ${#progs[@]} -eq 0 ]; then
  echo "no benchmark programs in $dir/bin (configure with -DMOX_BUILD_BENCH=ON)" >&2
  exit 1
fi
for p in "${progs[@]}"; do
  echo "== $(basename "$p")"
  "$p" "$@"
done
