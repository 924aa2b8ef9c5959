#!/usr/bin/env bash
# Builds Strandsight, makes a small sample data set if there is none yet, and starts it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash scripts/install-deps.sh
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-release -j"$(nproc)" --target strandsight strandsight-sample

sample="$root/sample-data"
if [ ! -d "$sample/images" ]; then
    echo "Writing a sample data set to $sample ..."
    build-release/strandsight-sample --out "$sample" --slices 40 --fibres 300 --format tiff16
fi

cat <<MSG

Sample data set: $sample
  images:            $sample/images            (press "Images", select all files)
  non-error tracks:  $sample/tracks/normal     (press "Non-Error", select all files)
  error tracks:      $sample/tracks/error      (press "Error", select all files)
Tip: "Directory" opens in the sample folder; accept it to make it the working directory.

MSG
cd "$sample"
exec "$root/build-release/strandsight"
