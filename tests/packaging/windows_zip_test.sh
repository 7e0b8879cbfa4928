#!/bin/sh
# Builds the Windows zip with CPack and uses it as a new Windows user would:
# checks its layout, that no file in it names a folder of the build machine
# and that every DLL a program or library in bin/ loads is in bin/ or is
# Windows' own; then, in a fresh Wine prefix with no WINEPATH, runs the tool
# from the unzipped bin/ (grep, and replace --dry-run on a small tree), and
# cross-builds a consumer project with mingw-w64 against the unzipped folder
# alone (find_package with CMAKE_PREFIX_PATH) and runs it there.
# Usage: windows_zip_test.sh BUILD_DIR SOURCE_DIR BOOST_HEADERS CONSUMER_DIR CMAKE CPACK CXX OBJDUMP WINE
#        VERSION SYSTEM
set -eu
build=$1 source=$2 boost=$3 consumer=$4 cmake=$5 cpack=$6 cxx=$7 objdump=$8 wine=$9
shift 9
version=$1 system=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/quorvex-zip.XXXXXX")
WINEPREFIX=$work/wineprefix
wineserver=$(dirname "$wine")/wineserver
cleanup() {
    [ -d "$WINEPREFIX" ] && WINEPREFIX=$WINEPREFIX "$wineserver" -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && "$cpack" -G ZIP -B "$work/pkg") >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
name=quorvex-$version-$system
[ -f "$work/pkg/$name.zip" ] || { ls "$work/pkg"; fail "no $name.zip"; }
mkdir "$work/unzipped"
(cd "$work/unzipped" && "$cmake" -E tar xf "$work/pkg/$name.zip") || fail "unzip"
top=$work/unzipped/$name
[ -d "$top" ] || { ls "$work/unzipped"; fail "the zip has no folder $name"; }

for file in README.txt bin/quorvex.exe bin/quorvex.dll bin/quorvpak.dll bin/quorvex_framework.dll \
    bin/libstdc++-6.dll bin/libwinpthread-1.dll lib/libquorvex.dll.a lib/libquorvpak.dll.a \
    lib/cmake/Quorvex/QuorvexConfig.cmake lib/cmake/Quorvex/QuorvexTargets.cmake lib/pkgconfig/quorvex.pc \
    include/quorvex/Regularexpressionclass.h include/quorvex/Quorvexexport.h include/quorvex/boost/regex.hpp; do
    [ -f "$top/$file" ] || fail "$file is not in the zip"
done
ls "$top"/bin/libgcc_s_*.dll >/dev/null 2>&1 || fail "no libgcc_s DLL in the zip"
if find "$top" -path '*/share/*' | grep .; then
    fail "the zip holds files for Debian"
fi

# Nothing names the source, build or dependency folders of this machine (a
# name shorter than 8 characters, say a clone in /q, could be any bytes of a
# binary; the build folder inside it is still looked for).
for path in "$build" "$source" "$boost" "$(cd "$build" && pwd -P)" "$(cd "$source" && pwd -P)" build-deps; do
    [ ${#path} -ge 8 ] || continue
    if grep -rlaF "$path" "$top"; then
        fail "the files above name $path"
    fi
done

# Every DLL that a file of bin/ imports is beside it or belongs to Windows.
system_dlls='^(kernel32|user32|advapi32|msvcrt|ntdll|shell32|ole32|ws2_32|bcrypt|api-ms-win-.*)\.dll$'
for binary in "$top"/bin/*.exe "$top"/bin/*.dll; do
    "$objdump" -p "$binary" >"$work/imports" || fail "objdump $binary"
    for dll in $(sed -n 's/^[[:space:]]*DLL Name: //p' "$work/imports" | tr -d '\r'); do
        [ -f "$top/bin/$dll" ] && continue
        echo "$dll" | tr 'A-Z' 'a-z' | grep -Eq "$system_dlls" && continue
        fail "$(basename "$binary") needs $dll, which is not in bin/"
    done
done

# A fresh Wine prefix, and nothing pointing Wine at the compiler's DLLs.
unset WINEPATH DISPLAY WAYLAND_DISPLAY
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
# Runs a Windows program; its output with Unix line ends and slashes.
run() {
    status=0
    "$wine" "$@" >"$work/out" 2>>"$work/wine.log" || status=$?
    tr -d '\r' <"$work/out" | tr '\\' '/'
    return $status
}

mkdir -p "$work/tree/docs" "$work/tree/src"
printf 'a colour here\nnothing\n' >"$work/tree/docs/a.txt"
printf 'colour and colour\n' >"$work/tree/docs/b.txt"
printf 'no match\n' >"$work/tree/src/c.txt"
cp -R "$work/tree" "$work/tree.orig"
cd "$work/tree"

output=$(run "$top/bin/quorvex.exe" --version) || { cat "$work/wine.log"; fail "quorvex.exe --version: $output"; }
echo "$output" | grep -qF "$version" || { cat "$work/wine.log"; fail "quorvex.exe --version printed '$output'"; }

output=$(run "$top/bin/quorvex.exe" grep -rn 'colou?r' docs) || fail "quorvex.exe grep: $output"
output=$(echo "$output" | sort)
expected="docs/a.txt:1:a colour here
docs/b.txt:1:colour and colour"
[ "$output" = "$expected" ] || fail "quorvex.exe grep printed
$output"

output=$(run "$top/bin/quorvex.exe" replace -r --dry-run 'colou?r' 'color' docs) || fail "quorvex.exe replace: $output"
echo "$output" | tail -n 1 | grep -q '^3 replacements in 2 files' || fail "quorvex.exe replace --dry-run printed
$output"
diff -r "$work/tree.orig" "$work/tree" || fail "replace --dry-run changed the tree"

# The consumer, cross-built against the unzipped folder only: its compile
# lines take headers from the zip's include folder and from no other.
cp -R "$consumer" "$work/consumer"
"$cmake" -S "$work/consumer" -B "$work/consumer-build" -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_PREFIX_PATH="$top" -DEXPECT_QUORVPAK=ON \
    -DCMAKE_FIND_PACKAGE_NO_PACKAGE_REGISTRY=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
    >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "consumer configure"; }
"$cmake" --build "$work/consumer-build" >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "consumer build"; }
# (the include options are in the compile line or in a response file)
includes=$(find "$work/consumer-build" -name compile_commands.json -o -name 'includes_CXX.rsp' | xargs cat |
    tr -d '"\\' | grep -o -- '-I[^ ]*\|-isystem [^ ]*' | sed 's/^-I//; s/^-isystem //')
echo "$includes" | grep -qxF "$top/include/quorvex" || fail "the consumer does not compile with the zip's headers: $includes"
for include in $includes; do
    case $include in
        "$top"/*) ;;
        *) fail "the consumer compiles with $include, outside the zip" ;;
    esac
done
cp "$top"/bin/*.dll "$work/consumer-build/"
output=$(run "$work/consumer-build/consumer.exe") || { cat "$work/wine.log"; fail "consumer.exe: $output"; }
echo "$output" | tail -n 1 | grep -q "consumer ok" || fail "consumer.exe printed
$output"
echo "packaging: $name.zip unzipped, run under a bare Wine and consumed"
