#!/usr/bin/env bash
# The main job of `make run`, given the release build directory.
set -euo pipefail
build=$1
exec "$build/tools/vantrelctl/vantrelctl" settings
