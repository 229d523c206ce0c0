#!/usr/bin/env bash
# The main job: probes the bundled sample recordings with the command-line converter.
set -euo pipefail
cd "$(dirname "$0")/.."
./build/bin/vyrconvert --probe build/samples/*.vyr
