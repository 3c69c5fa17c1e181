# Sourced by the Wine runs: a headless 64-bit Wine and a fresh prefix of its own.
#   newWinePrefix NAME   sets and exports WINEPREFIX to a new folder /tmp/NAME.XXXXXX
#   bootWinePrefix       boots it with a persistent server, reporting Windows 10
#   pass/fail TEXT       a result line; fail counts into $failures
#   waitForFreePort [S]  waits up to S seconds (300) until nothing listens on 127.0.0.1:9977
#   sc ARGS              Wine's sc, its status kept; serviceState and waitForState STATE S
#                        ask it about $service, which the run sets
wine=/usr/lib/wine/wine64
export WINESERVER=/usr/lib/wine/wineserver64
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

failures=0
pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Another run (the Linux suites, another checkout) may hold the product port for a while.
portFree() { ! (exec 3<>/dev/tcp/127.0.0.1/9977) 2>/dev/null; }
waitForFreePort() {
    local deadline=$((SECONDS + ${1:-300}))
    until portFree; do
        [ $SECONDS -ge $deadline ] && return 1
        sleep 2
    done
}

sc() { "$wine" sc "$@" 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }
serviceState() { sc query "$service" | sed -n 's/^ *STATE *: [0-9a-f]* *\([A-Z_]*\).*/\1/p'; }
waitForState() {
    local wanted=$1 deadline=$((SECONDS + $2))
    until [ "$(serviceState)" = "$wanted" ]; do
        [ $SECONDS -ge $deadline ] && return 1
        sleep 0.2
    done
}

newWinePrefix() {
    WINEPREFIX=$(mktemp -d "/tmp/$1.XXXXXX")
    export WINEPREFIX
}

bootWinePrefix() {
    "$wine" wineboot -i >/dev/null 2>&1
    # A persistent server only once wineboot's has gone: -p cannot be asked of a running one,
    # and a server kept from the first start-up ran two service control managers in the prefix.
    "$WINESERVER" -w
    "$WINESERVER" -p
    # Wine's own daemons (services.exe and the rest) start with the first program and keep its
    # output open: started here, they hold no pipe of ours.
    "$wine" wineboot </dev/null >/dev/null 2>&1
    # The version users run: Wine reports Windows 7 by default, which would keep the
    # version-gated checks (integrity, AppContainer, restricted tokens) and POCO's newer paths
    # out of the run.
    "$wine" winecfg -v win10 >/dev/null 2>&1
}
