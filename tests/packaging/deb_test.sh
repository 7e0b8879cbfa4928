#!/bin/sh
# Builds the Debian package with CPack, checks its name, control fields and
# contents, unpacks it with dpkg-deb -x into a temporary root, runs the tool
# from there and builds a consumer project against the unpacked package.
# lintian, when installed, must report no errors.
# Usage: deb_test.sh BUILD_DIR CONSUMER_DIR CMAKE CPACK CXX VERSION
set -eu
build=$1 consumer=$2 cmake=$3 cpack=$4 cxx=$5 version=$6
command -v dpkg-deb >/dev/null || { echo "SKIP: dpkg-deb is not installed"; exit 0; }
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvex-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && "$cpack" -G DEB -B "$work/pkg") >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
arch=$(dpkg --print-architecture)
deb=$work/pkg/quorvex_${version}_$arch.deb
[ -f "$deb" ] || { ls "$work/pkg"; fail "no quorvex_${version}_$arch.deb"; }

depends=$(dpkg-deb -f "$deb" Depends)
for needed in libboost-regex libc6 libstdc++6; do
    echo "$depends" | grep -q "$needed" || fail "Depends lacks $needed: $depends"
done
[ "$(dpkg-deb -f "$deb" Package)" = quorvex ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version"
dpkg-deb -I "$deb" shlibs | grep -q "libquorvex ${version%%.*} quorvex" || fail "no shlibs entry for libquorvex"

root=$work/root
dpkg-deb -x "$deb" "$root"
for file in usr/bin/quorvex usr/share/man/man1/quorvex.1.gz usr/share/bash-completion/completions/quorvex \
    usr/share/doc/quorvex/copyright usr/share/doc/quorvex/changelog.gz \
    usr/include/quorvex/Regularexpressionclass.h usr/lib/cmake/Quorvex/QuorvexConfig.cmake \
    usr/lib/pkgconfig/quorvex.pc "usr/lib/libquorvex.so.${version%%.*}"; do
    [ -e "$root/$file" ] || fail "$file is not in the package"
done

# The tool runs from the unpacked root and loads the library beside it.
printf 'one foo\ntwo\n' >"$work/f.txt"
[ "$("$root/usr/bin/quorvex" grep -n foo "$work/f.txt")" = "1:one foo" ] || fail "the packaged tool does not run"
ldd "$root/usr/bin/quorvex" | grep libquorvex | grep -qF "$root" || fail "the packaged tool loads another libquorvex"

# A consumer finds the package with find_package.
cp -R "$consumer" "$work/consumer"
expect_pak=OFF
[ -e "$root/usr/lib/libquorvpak.so" ] && expect_pak=ON
"$cmake" -S "$work/consumer" -B "$work/consumer-build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER="$cxx" \
    -DCMAKE_PREFIX_PATH="$root/usr" -DEXPECT_QUORVPAK=$expect_pak -DCMAKE_FIND_PACKAGE_NO_PACKAGE_REGISTRY=ON \
    >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "consumer configure"; }
"$cmake" --build "$work/consumer-build" >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "consumer build"; }
"$work/consumer-build/consumer" | tail -n 1 | grep -q "consumer ok" || fail "consumer run"

if command -v lintian >/dev/null; then
    lintian --no-tag-display-limit "$deb" >"$work/lintian.log" 2>&1 || true
    cat "$work/lintian.log"
    if grep -q '^E:' "$work/lintian.log"; then
        fail "lintian reports errors"
    fi
fi
echo "packaging: $(basename "$deb") built, unpacked, run and consumed"
