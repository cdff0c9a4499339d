#!/usr/bin/env bash
# Installs what is missing, builds vcardsplit with its tests and runs them all.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

# For the tests of the product as installed: the session in a real terminal, the manual page
# and the Debian package (dpkg-dev and file let CPack work out its dependencies).
product_test_packages=(tmux man-db dpkg-dev file)
install_missing "${product_test_packages[@]}"
build "$root/build/test" -DVCARDSPLIT_WERROR=ON
ctest --test-dir "$root/build/test" --output-on-failure --timeout 600 \
    --parallel "$(nproc 2>/dev/null || echo 2)"
