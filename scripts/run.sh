#!/usr/bin/env bash
# Builds Strandsight, makes a small sample data set if there is none yet, and
# starts it with that set loaded.
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

Starting Strandsight on the sample data set in $sample
  images:            $sample/images
  non-error tracks:  $sample/tracks/normal
  error tracks:      $sample/tracks/error

To open your own data, name it on the command line (each PATH a folder or files):
  $root/build-release/strandsight --images PATH... --non-error PATH... --error PATH...
or drop image files, track files or a folder of them on either window.

MSG
cd "$sample"
exec "$root/build-release/strandsight" --images "$sample/images" \
    --non-error "$sample/tracks/normal" --error "$sample/tracks/error"
