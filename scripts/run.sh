#!/usr/bin/env bash
# Installs what is missing, builds vcardsplit and runs it in the current directory.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

install_missing
log=$(mktemp)
if ! build "$root/build/release" -DBUILD_TESTING=OFF >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    exit 1
fi
rm -f "$log"
exec "$root/build/release/vcardsplit"
