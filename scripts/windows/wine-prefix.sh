# Sourced by the Wine runs: a headless 64-bit Wine and a fresh prefix of its own.
#   newWinePrefix NAME   sets and exports WINEPREFIX to a new folder /tmp/NAME.XXXXXX
#   bootWinePrefix       boots it with a persistent server, reporting Windows 10
wine=/usr/lib/wine/wine64
export WINESERVER=/usr/lib/wine/wineserver64
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

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
