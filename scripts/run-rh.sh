#!/usr/bin/env bash
# Installs what the product needs, builds it and starts the rh desktop on its embedded service.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
cmake --build build/release -j"$(nproc)"
exec build/release/bin/rh "$@"
