#!/usr/bin/env bash
# Runs the whole test suite built with AddressSanitizer and UndefinedBehaviorSanitizer (clang),
# then the end-to-end tests of the ordinary build with every run of the program under valgrind's
# memcheck. Installs what is missing, as test.sh does.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

install_missing clang libclang-rt-14-dev valgrind
cd "$root"
jobs=$(nproc 2>/dev/null || echo 2)

cmake --preset asan >/dev/null
cmake --build --preset asan --parallel "$jobs"
ctest --preset asan --parallel "$jobs"

build "$root/build/test" -DVCARDSPLIT_WERROR=ON
VCARDSPLIT_WRAPPER="valgrind -q --error-exitcode=99 --leak-check=full" \
    ctest --test-dir "$root/build/test" --output-on-failure --timeout 900 -R '^tst_vcardsplit$'
