#!/bin/sh
# Installs what building Orvalis needs on Debian 12, skipping what is there.
#   tools/setup-debian.sh          compiler, CMake (enough to build and run the engine)
#   tools/setup-debian.sh --test   also GoogleTest, clang and Debian's PyTorch (tests and training)
set -eu

packages="g++ cmake make"
if [ "${1:-}" = "--test" ]; then
    packages="$packages libgtest-dev libgmock-dev clang libclang-rt-14-dev python3 python3-torch python3-numpy python3-tqdm python3-matplotlib"
fi

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
