#!/bin/sh
# Runs the end-to-end protocol transcripts (tests/data/transcripts) against the
# Windows engine under wine: the same replies, byte for byte, as the Linux
# build gives, apart from the separator in file paths.
#
#   tests/windows/transcripts.sh LINUX_TEST_BINARY WINDOWS_ENGINE
#   e.g. tests/windows/transcripts.sh build/tests/orvalis-tests build-mingw/pbrain-orvalis.exe
#
# The engine needs its model beside it (the cross build puts it there).
set -eu
if [ $# -ne 2 ]; then
    echo "usage: $0 LINUX_TEST_BINARY WINDOWS_ENGINE" >&2
    exit 2
fi
tests=$(realpath "$1")
engine=$(realpath "$2")
. "$(dirname "$0")/wine-env.sh"

ORVALIS_TEST_ENGINE="$engine" ORVALIS_TEST_LAUNCHER="$ORVALIS_WINE" \
    "$tests" --gtest_filter='Engine/Transcript.*' --gtest_brief=1
