#!/bin/sh
# Installs the build tree into a temporary prefix, checks what was installed,
# then builds a consumer project (copied outside the source tree) against the
# installed package twice, with find_package and with pkg-config, and runs it.
# Usage: install_test.sh BUILD_DIR CONSUMER_DIR CMAKE CXX VERSION
set -eu
build=$1 consumer=$2 cmake=$3 cxx=$4 version=$5
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvex-install.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "FAIL: $*" >&2; exit 1; }

"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "install"; }

library=$(find "$prefix" -name libquorvex.so | head -n 1)
[ -n "$library" ] || fail "no libquorvex.so installed"
libdir=$(dirname "$library")
real=$(readlink -f "$library")
[ "$(basename "$real")" = "libquorvex.so.$version" ] || fail "versioned file name: $(basename "$real")"
soname=$(objdump -p "$real" | awk '$1 == "SONAME" { print $2 }')
[ "$soname" = "libquorvex.so.${version%%.*}" ] || fail "SONAME is '$soname'"
[ -e "$libdir/$soname" ] || fail "no $soname link"
for header in Regularexpressionclass.h Regularexpressionclosure.h Quorvexexport.h; do
    [ -f "$prefix/include/quorvex/$header" ] || fail "header $header not installed"
done
[ -x "$prefix/bin/quorvex" ] || fail "bin/quorvex not installed"
[ -f "$prefix/share/man/man1/quorvex.1.gz" ] || [ -f "$prefix/share/man/man1/quorvex.1" ] || fail "man page not installed"
[ -f "$libdir/cmake/Quorvex/QuorvexConfig.cmake" ] || fail "no CMake package"
[ -f "$libdir/cmake/Quorvex/QuorvexConfigVersion.cmake" ] || fail "no CMake package version file"
[ -f "$libdir/pkgconfig/quorvex.pc" ] || fail "no quorvex.pc"
if find "$prefix" -name '*quorvex_engine*' -o -name '*quorvex_platform*' -o -name '*quorvex_tlsstack*' | grep -q .; then
    fail "internal libraries were installed"
fi
if grep -q 'quorvex_engine\|quorvex_platform\|quorvex_tlsstack' "$libdir"/cmake/Quorvex/*.cmake; then
    fail "the exported targets need the internal libraries"
fi
if grep -rqF "$build" "$libdir/cmake/Quorvex" "$libdir/pkgconfig"; then
    fail "the package files point into the build tree"
fi
if objdump -p "$real" "$prefix/bin/quorvex" | grep -E 'R(UN)?PATH' | grep -qF "$build"; then
    fail "an installed binary keeps a run path into the build tree"
fi

# The installed tool runs and finds the installed library.
[ "$("$prefix/bin/quorvex" search 'o+' 'foo')" = "oo" ] || fail "installed quorvex does not run"
ldd "$prefix/bin/quorvex" | grep libquorvex | grep -qF "$prefix" || fail "installed quorvex loads another libquorvex"

expected="search 1 12@2
grep 2
merge first
second [12] [3]
consumer ok"

# 1. find_package(Quorvex CONFIG)
cp -R "$consumer" "$work/consumer"
expect_pak=OFF
[ -n "$(find "$prefix" -name 'libquorvpak.so' | head -n 1)" ] && expect_pak=ON
"$cmake" -S "$work/consumer" -B "$work/consumer-build" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_PREFIX_PATH="$prefix" -DEXPECT_QUORVPAK=$expect_pak \
    -DCMAKE_FIND_PACKAGE_NO_PACKAGE_REGISTRY=ON >"$work/configure.log" 2>&1 ||
    { cat "$work/configure.log"; fail "consumer configure (find_package)"; }
"$cmake" --build "$work/consumer-build" >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "consumer build"; }
output=$("$work/consumer-build/consumer") || { echo "$output"; fail "consumer (find_package) run"; }
[ "$output" = "$expected" ] || { echo "$output"; fail "consumer (find_package) output"; }

# 2. pkg-config
export PKG_CONFIG_PATH="$libdir/pkgconfig"
[ "$(pkg-config --modversion quorvex)" = "$version" ] || fail "pkg-config version"
# shellcheck disable=SC2046
"$cxx" -std=c++17 -o "$work/consumer-pc" "$work/consumer/main.cpp" $(pkg-config --cflags --libs quorvex) \
    -Wl,-rpath,"$libdir" || fail "consumer build (pkg-config)"
output=$("$work/consumer-pc") || { echo "$output"; fail "consumer (pkg-config) run"; }
[ "$output" = "$expected" ] || { echo "$output"; fail "consumer (pkg-config) output"; }

# 3. The installed tree can be moved: pkg-config paths follow the .pc file.
mv "$prefix" "$work/moved"
include=$(PKG_CONFIG_PATH="$work/moved/${libdir#"$prefix"/}/pkgconfig" pkg-config --cflags-only-I quorvex)
include=${include#-I}
include=${include%% *}
[ -f "$include/Regularexpressionclass.h" ] && [ "$(cd "$include" && pwd -P)" = "$(cd "$work/moved/include/quorvex" && pwd -P)" ] ||
    fail "pkg-config paths do not follow a moved prefix ($include)"

echo "packaging: install layout, find_package and pkg-config consumers passed"
