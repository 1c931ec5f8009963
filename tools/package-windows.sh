#!/bin/sh
# Cross-builds the Windows engine and packs it for gomoku managers and
# tournaments: orvalis-windows.zip, in the folder this is run from, holding
#   pbrain-orvalis.exe
#   models/474/474_ncnn.qvm
# (the engine loads its network from models\474\ beside the executable).
#
#   tools/setup-debian.sh --windows && tools/package-windows.sh
#
# Builds in build-mingw/ of the source tree. Fails when the executable needs a
# DLL that Windows does not ship, or when the zip is over the tournament limit.
set -eu
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir="$source_dir/build-mingw"
zip_path="$(pwd)/orvalis-windows.zip"
model=models/474/474_ncnn.qvm

# Tournament packages may be at most 8 MB; counted here as 8,000,000 bytes, the
# stricter reading (8 MiB would allow 8,388,608).
size_limit=8000000

# What a stock Windows 10/11 has: anything else (libstdc++-6.dll,
# libwinpthread-1.dll, libgcc_s_seh-1.dll) means the static link broke.
system_dlls="kernel32.dll msvcrt.dll ucrtbase.dll advapi32.dll user32.dll ws2_32.dll bcrypt.dll ntdll.dll"

cmake -S "$source_dir" -B "$build_dir" -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release
cmake --build "$build_dir" -j2 --target pbrain-orvalis

staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT
mkdir -p "$staging/$(dirname "$model")"
x86_64-w64-mingw32-strip -o "$staging/pbrain-orvalis.exe" "$build_dir/pbrain-orvalis.exe"
cp "$source_dir/$model" "$staging/$model"

foreign=""
for dll in $(x86_64-w64-mingw32-objdump -p "$staging/pbrain-orvalis.exe" | sed -n 's/^[[:space:]]*DLL Name: //p'); do
    lower=$(printf '%s' "$dll" | tr '[:upper:]' '[:lower:]')
    case " $system_dlls " in
        *" $lower "*) ;;
        *) case "$lower" in api-ms-win-*) ;; *) foreign="$foreign $dll" ;; esac ;;
    esac
done
if [ -n "$foreign" ]; then
    echo "pbrain-orvalis.exe needs DLLs that Windows does not ship:$foreign" >&2
    exit 1
fi

rm -f "$zip_path"
(cd "$staging" && zip -q -9 -X -r "$zip_path" pbrain-orvalis.exe models)

size=$(stat -c %s "$zip_path")
echo "$zip_path: $size bytes (limit $size_limit)"
if [ "$size" -gt "$size_limit" ]; then
    echo "the package is over the $size_limit-byte limit" >&2
    exit 1
fi
