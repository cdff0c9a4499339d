#!/usr/bin/env bash
# Proves that the manual page renders without a warning from man and groff, in UTF-8, and
# carries the project's version.
# Usage: manual_page.sh PAGE VERSION
set -euo pipefail
page=$1 version=$2

if ! command -v man >/dev/null; then
    echo "SKIP: man is not installed (Debian package man-db), so the manual page is not checked."
    exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# w: every kind of groff warning (its "all" leaves out undefined macros); -E: render for a UTF-8
# terminal whatever the locale, so the Polish letters are checked too.
LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings=w -E UTF-8 -l "$page" >"$work/page" 2>"$work/warnings"
if [ -s "$work/warnings" ]; then
    cat "$work/warnings"
    echo "FAIL: man reports the warnings above for $page" >&2
    exit 1
fi
cat "$work/page"
grep -q "^vcardsplit $version  " "$work/page" || {
    echo "FAIL: the page's footer does not name vcardsplit $version" >&2
    exit 1
}
grep -q 'Naciśnij dowolny klawisz' "$work/page" || {
    echo "FAIL: the Polish letters did not come through" >&2
    exit 1
}
