#!/usr/bin/env bash
# Proves that the Debian package holds a working program: builds it with CPack, checks its
# name and control fields, unpacks it into a scratch root (the machine is left as it was) and
# splits the example contacts file with the unpacked binary.
# Usage: package.sh CPACK CPACK_CONFIG VERSION EXAMPLE_VCF
set -euo pipefail
cpack=$1 config=$2 version=$3 example=$4

for tool in dpkg dpkg-deb; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed, so no Debian package can be built or read here."
        exit 77
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

"$cpack" --config "$config" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack did not build the package"; }
deb=$work/out/vcardsplit_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $(basename "$deb") in: $(ls "$work/out")"

dpkg-deb --info "$deb"
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = vcardsplit ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
# The binary links Qt 6 Core; without the dependency it would install and not start.
field Depends | grep -Eq '(^|, )libqt6core6( |,|$)' ||
    fail "Depends does not name libqt6core6: '$(field Depends)'"
for name in Maintainer Description Section; do
    [ -n "$(field "$name")" ] || fail "the $name field is empty"
done

root=$work/root
dpkg -x "$deb" "$root"
for file in usr/bin/vcardsplit usr/share/man/pl/man1/vcardsplit.1.gz \
    usr/share/man/man1/vcardsplit.1.gz usr/share/doc/vcardsplit/README.md; do
    [ -s "$root/$file" ] || fail "the package has no $file"
done
[ -x "$root/usr/bin/vcardsplit" ] || fail "usr/bin/vcardsplit is not executable"
# A packaged program finds its libraries where the system keeps them, not beside itself.
if command -v readelf >/dev/null; then
    ! readelf -d "$root/usr/bin/vcardsplit" | grep -E 'R(UN)?PATH' ||
        fail "usr/bin/vcardsplit carries a library search path"
fi
version_in_page=$(gzip -dc "$root/usr/share/man/pl/man1/vcardsplit.1.gz" | grep '^\.TH ')
case $version_in_page in
*"vcardsplit $version"*) ;;
*) fail "the manual page carries another version: $version_in_page" ;;
esac

mkdir "$work/run"
cp "$example" "$work/run/kontakty.vcf"
status=0
(cd "$work/run" && LC_ALL=C.UTF-8 "$root/usr/bin/vcardsplit" <<<"kontakty.vcf" >"$work/output") ||
    status=$?
cat "$work/output"
[ "$status" = 0 ] || fail "the installed program ended with status $status"
tail -n 2 "$work/output" | grep -qx 'Zakończono konwersję!' || fail "no completion message"
expected="Anna Kowalska (2).vcf
Anna Kowalska.vcf
Grzegorz Brzęczyszczykiewicz.vcf
Zofia Żółkiewska.vcf
Łukasz Wiśniewski.vcf"
written=$(cd "$work/run/Contacts" && LC_ALL=C.UTF-8 ls -1)
[ "$written" = "$expected" ] || fail "Contacts holds:
$written"
# Every line of the example belongs to a card, so the card files hold exactly its lines.
cmp <(LC_ALL=C sort "$work/run/kontakty.vcf") <(cat "$work/run/Contacts"/* | LC_ALL=C sort) ||
    fail "the card files do not hold the lines of the contacts file"
echo "PASS: $(basename "$deb") installs a working vcardsplit"
