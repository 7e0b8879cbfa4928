#!/bin/sh
# Builds the Debian packages with CPack (the libraries, the development files
# and the tool, as Debian splits a C++ library), checks their names, control
# fields and contents, unpacks the three with dpkg-deb -x into one temporary
# root, runs the tool from there and builds a consumer project against the
# unpacked development package. lintian, when installed, must report no
# errors on any of them.
# Usage: deb_test.sh BUILD_DIR CONSUMER_DIR CMAKE CPACK CXX VERSION
set -eu
build=$1 consumer=$2 cmake=$3 cpack=$4 cxx=$5 version=$6
command -v dpkg-deb >/dev/null || { echo "SKIP: dpkg-deb is not installed"; exit 0; }
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvex-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && "$cpack" -G DEB -B "$work/pkg") >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
arch=$(dpkg --print-architecture)
major=${version%%.*}
lib=libquorvex$major
for package in "$lib" libquorvex-dev quorvex; do
    [ -f "$work/pkg/${package}_${version}_$arch.deb" ] || { ls "$work/pkg"; fail "no ${package}_${version}_$arch.deb"; }
done
[ "$(ls "$work/pkg"/*.deb | wc -l)" -eq 3 ] || { ls "$work/pkg"; fail "not exactly three packages"; }
deb() { echo "$work/pkg/${1}_${version}_$arch.deb"; }
field() { dpkg-deb -f "$(deb "$1")" "$2"; }
contents() { dpkg-deb -c "$(deb "$1")" | awk '{ print $6 }' | sed 's|^\./|/|'; }

for package in "$lib" libquorvex-dev quorvex; do
    [ "$(field "$package" Package)" = "$package" ] || fail "$package: package name"
    [ "$(field "$package" Version)" = "$version" ] || fail "$package: version"
done

# The libraries' package: the versioned libraries under their SONAMEs, their
# shlibs entries and the run-time dependencies dpkg-shlibdeps found; no
# headers, no .so links, no tool.
# A build against standalone Boost.Regex headers links no Boost library.
needs="libc6 libstdc++6"
grep -q '^QUORVEX_BOOST_REGEX_HEADERS:PATH=.' "$build/CMakeCache.txt" 2>/dev/null || needs="libboost-regex $needs"
for needed in $needs; do
    field "$lib" Depends | grep -q "$needed" || fail "$lib Depends lacks $needed: $(field "$lib" Depends)"
done
! field "$lib" Depends | grep -q 'dev' || fail "$lib depends on a development package: $(field "$lib" Depends)"
dpkg-deb -I "$(deb "$lib")" shlibs | grep -q "^libquorvex $major $lib (>= $version)" || fail "no shlibs entry for libquorvex"
contents "$lib" | grep -q "^/usr/lib/libquorvex.so.$major$" || fail "$lib lacks libquorvex.so.$major"
contents "$lib" | grep -q "^/usr/lib/libquorvex.so.$version$" || fail "$lib lacks libquorvex.so.$version"
if contents "$lib" | grep -E '\.so$|/include/|/bin/|/cmake/|pkgconfig'; then
    fail "$lib holds development files or the tool"
fi

# The development package: headers, .so links, CMake and pkg-config files,
# depending on the libraries of the same version and the Boost.Regex headers.
depends=$(field libquorvex-dev Depends)
echo "$depends" | grep -q "$lib (= $version)" || fail "libquorvex-dev Depends lacks $lib (= $version): $depends"
echo "$depends" | grep -q 'libboost-regex-dev' || fail "libquorvex-dev Depends lacks libboost-regex-dev: $depends"
if contents libquorvex-dev | grep -E '\.so\.[0-9]|/bin/'; then
    fail "libquorvex-dev holds the libraries or the tool"
fi

# The tool's package: the program, its manual page and completion; it needs
# the libraries' package and no development package.
depends=$(field quorvex Depends)
echo "$depends" | grep -q "$lib" || fail "quorvex Depends lacks $lib: $depends"
! echo "$depends" | grep -q -- '-dev' || fail "quorvex depends on a development package: $depends"
if contents quorvex | grep -E '/lib/|/include/'; then
    fail "the quorvex package holds libraries or headers"
fi

root=$work/root
for package in "$lib" libquorvex-dev quorvex; do
    dpkg-deb -x "$(deb "$package")" "$root"
    for file in copyright changelog.gz; do
        [ -f "$root/usr/share/doc/$package/$file" ] || fail "$package lacks usr/share/doc/$package/$file"
    done
done
for file in usr/bin/quorvex usr/share/man/man1/quorvex.1.gz usr/share/bash-completion/completions/quorvex \
    usr/include/quorvex/Regularexpressionclass.h usr/lib/cmake/Quorvex/QuorvexConfig.cmake \
    usr/lib/pkgconfig/quorvex.pc "usr/lib/libquorvex.so.$major" usr/lib/libquorvex.so; do
    [ -e "$root/$file" ] || fail "$file is in none of the packages"
done

# The tool runs from the unpacked root and loads the library beside it.
printf 'one foo\ntwo\n' >"$work/f.txt"
[ "$("$root/usr/bin/quorvex" grep -n foo "$work/f.txt")" = "1:one foo" ] || fail "the packaged tool does not run"
ldd "$root/usr/bin/quorvex" | grep libquorvex | grep -qF "$root" || fail "the packaged tool loads another libquorvex"

# A consumer finds the development package with find_package.
cp -R "$consumer" "$work/consumer"
expect_pak=OFF
[ -e "$root/usr/lib/libquorvpak.so" ] && expect_pak=ON
"$cmake" -S "$work/consumer" -B "$work/consumer-build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER="$cxx" \
    -DCMAKE_PREFIX_PATH="$root/usr" -DEXPECT_QUORVPAK=$expect_pak -DCMAKE_FIND_PACKAGE_NO_PACKAGE_REGISTRY=ON \
    >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "consumer configure"; }
"$cmake" --build "$work/consumer-build" >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "consumer build"; }
"$work/consumer-build/consumer" | tail -n 1 | grep -q "consumer ok" || fail "consumer run"

if command -v lintian >/dev/null; then
    status=0
    for package in "$lib" libquorvex-dev quorvex; do
        lintian --no-tag-display-limit "$(deb "$package")" >"$work/lintian.log" 2>&1 || true
        echo "lintian $package:"
        cat "$work/lintian.log"
        if grep -q '^E:' "$work/lintian.log"; then
            status=1
        fi
    done
    [ $status -eq 0 ] || fail "lintian reports errors"
fi
echo "packaging: $lib, libquorvex-dev and quorvex packages built, unpacked, run and consumed"
