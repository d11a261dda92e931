#!/bin/sh
# SPDX-License-Identifier: Apache-2.0
# Builds the player and plays an example file on the built-in virtual board.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target tavrin-play
./build/cli/tavrin-play --virtual examples/idcode.svf
