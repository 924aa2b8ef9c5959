#!/usr/bin/env bash
# Installs what is needed, builds Strandsight and runs every test: once in a
# normal build, once in an address + undefined-behaviour sanitizer build. The
# tests include tools/fault-check.sh, which kills saves at random moments.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash scripts/install-deps.sh
jobs="$(nproc)"

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DSTRANDSIGHT_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$jobs"
ctest --test-dir build-asan --output-on-failure
