# Sourced by the Windows test scripts: a private, headless wine for this run.
# Sets ORVALIS_WINE to the wine loader; creates a throw-away prefix unless
# WINEPREFIX is already set, and removes it (and stops its wine server) on exit.

# Debian's wine64 package has its loader off PATH; its "wine" package adds the
# wine wrapper. Either runs a 64-bit .exe.
ORVALIS_WINE=""
for candidate in wine64 /usr/lib/wine/wine64 wine; do
    if command -v "$candidate" >/dev/null 2>&1; then ORVALIS_WINE=$(command -v "$candidate"); break; fi
done
if [ -z "$ORVALIS_WINE" ]; then
    echo "wine is not installed (tools/setup-debian.sh --windows installs it)" >&2
    exit 1
fi

export WINEDEBUG=-all       # wine's own diagnostics would mix with the engine's stderr
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer prompt on a new prefix
unset DISPLAY               # headless: nothing may open a window
if [ -z "${WINEPREFIX:-}" ]; then
    WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/orvalis-wine.XXXXXX")
    export WINEPREFIX
    orvalis_own_prefix=1
    orvalis_wine_cleanup() {
        WINEPREFIX="$WINEPREFIX" wineserver -k 2>/dev/null || true
        rm -rf "$WINEPREFIX"
    }
    trap orvalis_wine_cleanup EXIT
    trap 'exit 1' INT TERM
fi

# Creating a prefix takes 20-60 s and has hung on broken set-ups: bound it, so
# a stuck first start fails the run instead of stalling it.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the wine prefix $WINEPREFIX"
    if ! timeout 300 "$ORVALIS_WINE" wineboot -i >/dev/null 2>&1; then
        echo "wine could not create its prefix within 300 s" >&2
        exit 1
    fi
    WINEPREFIX="$WINEPREFIX" timeout 60 wineserver -w 2>/dev/null || true
fi

# One wine server for the whole run. By default it exits 3 s after its last
# process, and a client that connects while it is going away dies with
# "recvmsg: Connection reset by peer" and runs nothing: in CI one transcript
# in thirteen failed so, with no output. A prefix of our own keeps its server
# until the clean-up kills it; a caller's prefix keeps it a minute after the
# last engine, then it goes as usual.
if [ -n "${orvalis_own_prefix:-}" ]; then
    wineserver -p
else
    wineserver -p60
fi
