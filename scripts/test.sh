#!/usr/bin/env bash
# Installs what is missing, builds vcardsplit with its tests and runs them all.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

install_missing
build "$root/build/test" -DVCARDSPLIT_WERROR=ON
ctest --test-dir "$root/build/test" --output-on-failure --timeout 600 \
    --parallel "$(nproc 2>/dev/null || echo 2)"
