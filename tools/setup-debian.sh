#!/bin/sh
# Installs what building Orvalis needs on Debian 12, skipping what is there.
#   tools/setup-debian.sh            compiler, CMake (enough to build and run the engine)
#   tools/setup-debian.sh --windows  also MinGW-w64, wine and zip: the Windows engine
#                                    (tools/package-windows.sh) and its tests under wine
#   tools/setup-debian.sh --test     all of the above, and GoogleTest, clang and Debian's
#                                    PyTorch (tests and training)
set -eu

packages="g++ cmake make"
# Debian's wine64 has the loader and libraries; its "wine" package adds the
# wine and wineboot commands that create a prefix.
windows_packages="g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 wine zip unzip"
case "${1:-}" in
    --windows) packages="$packages $windows_packages" ;;
    --test) packages="$packages $windows_packages libgtest-dev libgmock-dev clang libclang-rt-14-dev python3 python3-torch python3-numpy python3-tqdm python3-matplotlib" ;;
esac

missing=""
for package in $packages; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing="$missing $package"
done

if [ -n "$missing" ]; then
    echo "Installing:$missing"
    if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends $missing
fi
