#!/usr/bin/env bash
# The main job: converts the bundled sample recordings to MP4 with the command-line
# converter, into build/demo-output/, and says where they are.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/demo-output
mkdir -p "$out"
./build/bin/vyrconvert --probe build/samples/*.vyr
./build/bin/vyrconvert -o "$out" build/samples/*.vyr
echo "MP4 files are in $(pwd)/$out"
