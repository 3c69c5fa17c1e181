#!/usr/bin/env bash
# The installer under Wine, after the Windows run (scripts/windows/run-under-wine.sh): builds,
# post-processes and signs the MSI from build/windows, checks the three signatures, then in a
# fresh headless prefix installs it silently, checks what it registered and the folders it made
# (the logs folder's access list read from Wine's stored descriptor), lets
# orvane-client.exe start the stopped service on demand, has a squatter on 127.0.0.1:9977
# refused for auth-info, and uninstalls. Prints the MSI's size and the time of each step.
# It binds 127.0.0.1:9977: run it after the other runs, never beside them.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build=${ORVANE_WINDOWS_BUILD:-$root/build/windows}

. scripts/windows/wine-prefix.sh
newWinePrefix orvane-msi
out=$(mktemp -d /tmp/orvane-msi-out.XXXXXX)
service='Orvane Client Service'
serviceKey="HKLM\\SYSTEM\\CurrentControlSet\\Services\\$service"
installDir="$WINEPREFIX/drive_c/Program Files/Qovex/Orvane Client"
# orvane-client's exit code when the listener is not the service (ClientExitCode.h).
notTheService=8

section() { echo; echo "== $*"; stepStart=$(date +%s.%N); }
took() { awk -v s="$stepStart" -v e="$(date +%s.%N)" -v w="$1" 'BEGIN { printf "(%s: %.1f s)\n", w, e - s }'; }

squatter=""
cleanup() {
    [ -n "$squatter" ] && kill "$squatter" 2>/dev/null
    "$WINESERVER" -k 2>/dev/null || true
    rm -rf "$WINEPREFIX" "$out"
}
trap cleanup EXIT
trap '[[ $- == *e* ]] && echo "FAIL: stopped at line $LINENO: $BASH_COMMAND" >&2' ERR

bash scripts/install-deps.sh wixl msitools osslsigncode openssl

section "Build, post-process and sign the MSI"
bash packaging/windows/build-msi.sh --build "$build" --out "$out/OrvaneClient.msi"
msi=$out/OrvaneClient.msi
echo "MSI size: $(stat -c %s "$msi") bytes"
took "MSI built and signed"

section "Signatures"
verify() { osslsigncode verify -CAfile "$out/signing-cert.pem" -in "$1" >/dev/null 2>&1; }
for file in "$out/signed/OrvaneService.exe" "$out/signed/orvane-client.exe" "$msi"; do
    if verify "$file"; then
        pass "signature of $(basename "$file") verifies"
    else
        fail "signature of $(basename "$file") does not verify"
    fi
    # One byte changed well inside what the signature covers.
    tampered=$out/tampered-$(basename "$file")
    cp "$file" "$tampered"
    offset=$(($(stat -c %s "$file") / 3))
    byte=$(od -An -tu1 -j "$offset" -N1 "$tampered" | tr -d ' ')
    printf "$(printf '\\%03o' $(((byte + 1) % 256)))" |
        dd of="$tampered" bs=1 seek="$offset" conv=notrunc status=none
    if verify "$tampered"; then
        fail "a copy of $(basename "$file") with one byte changed still verifies"
    else
        pass "a copy of $(basename "$file") with one byte changed fails to verify"
    fi
done
took "signatures"

section "Fresh Wine prefix $WINEPREFIX"
bootWinePrefix
took "prefix"

reg() { "$wine" reg "$@" 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }
# Bounded: a client that hangs fails its check instead of the run.
client() {
    timeout 90 "$wine" 'C:\Program Files\Qovex\Orvane Client\orvane-client.exe' "$@" 2>&1 |
        tr -d '\r'
    return "${PIPESTATUS[0]}"
}
serviceProcessGone() {
    local deadline=$((SECONDS + $1))
    while pgrep -f "Orvane Client.OrvaneService\.exe" >/dev/null; do
        [ $SECONDS -ge $deadline ] && return 1
        sleep 0.2
    done
}

section "Install silently"
cp "$msi" "$WINEPREFIX/drive_c/OrvaneClient.msi"
set +e; timeout 300 "$wine" msiexec /i 'C:\OrvaneClient.msi' /qn /l*v 'C:\install.log'; code=$?
set -e
if [ $code -eq 0 ]; then pass "msiexec /i /qn: exit 0"; else fail "msiexec /i: exit $code"; fi
took "install"

section "What the installer registered"
entry=$(reg query "$serviceKey")
echo "$entry" | sed 's/^/    /'
check() {
    if echo "$entry" | grep -qi "$2"; then pass "$1"; else fail "$1: not in the service's entry"; fi
}
check "image path in Program Files" 'ImagePath.*C:\\Program Files\\Qovex\\Orvane Client\\OrvaneService.exe'
check "LocalSystem" 'ObjectName.*LocalSystem'
check "demand start" 'Start[[:space:]]*REG_DWORD[[:space:]]*0x3'
check "own process" 'Type[[:space:]]*REG_DWORD[[:space:]]*0x10'
check "a description" 'Description.*privileged requests of the Orvane Client'
roots=$(reg query "$serviceKey\\Parameters" /v LibraryRoots)
if echo "$roots" | grep -q 'REG_MULTI_SZ.*Qovex Games'; then
    pass "LibraryRoots: the games' folder"
else
    fail "LibraryRoots: $roots"
fi
for key in 'HKLM\SOFTWARE\Qovex\OrvaneClient' 'HKLM\SOFTWARE\Qovex\Games'; do
    if reg query "$key" >/dev/null; then pass "$key created"; else fail "$key missing"; fi
done
for program in OrvaneService.exe orvane-client.exe; do
    if [ -f "$installDir/$program" ]; then pass "$program installed"; else fail "$program missing"; fi
done
# The service's folders and the logs folder's list. Wine keeps a descriptor that a program or
# the installer set in the file's extended attribute user.wine.sd: a revision byte, a zero byte,
# then its server's layout (control, owner, group, SACL and DACL lengths as 32-bit numbers, then
# those parts). Read from the host, so Wine's own answer to GetSecurityInfo is not relied on.
dataDir="$WINEPREFIX/drive_c/ProgramData/OrvaneClient"
for folder in "$dataDir" "$dataDir/logs"; do
    if [ -d "$folder" ]; then pass "${folder#"$WINEPREFIX/"} created"; else fail "${folder#"$WINEPREFIX/"} missing"; fi
done
# The logs folder's owner, protection and entries as "owner=... protected=yes|no allow:SID:mask:flags...".
logsList() {
    python3 - "$dataDir/logs" 2>&1 <<'PYTHON'
import os, struct, sys
def sid(data):
    count = data[1]
    authority = int.from_bytes(data[2:8], "big")
    subs = struct.unpack_from("<%dI" % count, data, 8)
    return "S-%d-%d" % (data[0], authority) + "".join("-%d" % s for s in subs)
try:
    raw = os.getxattr(sys.argv[1], "user.wine.sd")
except OSError as error:
    print("no descriptor stored (%s)" % error.strerror)
    sys.exit(1)
control, owner_len, group_len, sacl_len, dacl_len = struct.unpack_from("<5I", raw, 2)
at = 2 + 20
owner = sid(raw[at:at + owner_len]) if owner_len else "none"
at += owner_len + group_len + sacl_len
entries = []
if dacl_len:
    count = struct.unpack_from("<H", raw, at + 4)[0]
    ace = at + 8
    for _ in range(count):
        kind, flags, size, mask = struct.unpack_from("<BBHI", raw, ace)
        entries.append("%s:%s:0x%x:%d" % ("allow" if kind == 0 else "deny" if kind == 1 else kind,
                                          sid(raw[ace + 8:ace + size]), mask, flags))
        ace += size
print("owner=%s protected=%s %s" % (owner, "yes" if control & 0x1000 else "no", " ".join(entries)))
PYTHON
}
wantedList="owner=S-1-5-32-544 protected=yes allow:S-1-5-18:0x1f01ff:3 allow:S-1-5-32-544:0x1f01ff:3 allow:S-1-5-32-545:0x1200a9:3"
listAfterInstall=$(logsList || true)
echo "    logs after install: $listAfterInstall"
if [ "$listAfterInstall" = "$wantedList" ]; then
    pass "logs: the installer set the service's list"
else
    # Windows Installer applies MsiLockPermissionsEx; Wine's msiexec skips it (see README).
    echo "[ WINE     ] logs: the installer's list is not applied; the service sets it at start"
fi

if [ "$(serviceState)" = STOPPED ]; then
    pass "the installer did not start the service"
else
    fail "after install the service is $(serviceState)"
fi
took "registry and files"

if ! waitForFreePort 300; then
    fail "127.0.0.1:9977 stayed busy for 5 minutes: the start and squatter checks are skipped"
else
    section "orvane-client.exe library-info starts the stopped service"
    set +e; answer=$(client library-info); code=$?; set -e
    echo "$answer" | sed 's/^/    /'
    # Wine's TCP table names no owner for listening sockets: the listener stays unverified here,
    # which library-info does not need.
    if [ $code -eq 0 ] && echo "$answer" | grep -q 'C:\\Program Files\\Qovex\\Orvane Client' &&
        echo "$answer" | grep -q 'started by this request'; then
        pass "started on demand and answered with the install folder"
    else
        fail "library-info with the service stopped: exit $code"
    fi
    took "start on demand"

    # At its start the service makes the logs folder its own (on Windows the installer already
    # did) and writes its log there.
    listAfterStart=$(logsList || true)
    echo "    logs after the service's start: $listAfterStart"
    if [ "$listAfterStart" = "$wantedList" ]; then
        pass "logs: owned by Administrators, written by SYSTEM and Administrators only, read by Users"
    elif [[ $listAfterStart == "no descriptor stored"* ]] &&
        grep -aq 'The folder C:\\ProgramData\\OrvaneClient\\logs could be changed by others' \
            "$dataDir/logs/OrvaneService.log" 2>/dev/null; then
        # Wine 8 answers every folder with its Unix user as owner, so the service always takes
        # the folder back; its SetSecurityInfo on the folder's handle succeeds and stores nothing.
        echo "[ WINE     ] logs: the service's SetSecurityInfo succeeds and Wine stores no list"
        pass "logs: the service found the folder open to others and reset it (its warning logged)"
    else
        fail "logs: the list is not the service's (wanted: $wantedList)"
    fi
    if [ -s "$dataDir/logs/OrvaneService.log" ]; then
        pass "the service writes its log in the checked folder"
    else
        fail "no OrvaneService.log in the logs folder"
    fi

    section "A squatter on 127.0.0.1:9977 while the service is stopped"
    sc stop "$service" >/dev/null || true
    waitForState STOPPED 30 || fail "sc stop: state $(serviceState)"
    serviceProcessGone 30 || fail "the service process did not end"
    waitForFreePort 30 || fail "the port stayed busy after the stop"
    perl -MIO::Socket::INET -e '
        my $s = IO::Socket::INET->new(LocalAddr => "127.0.0.1", LocalPort => 9977,
                                      Listen => 5) or die "listen: $!";
        print "listening\n"; $| = 1; sleep 120;' >"$WINEPREFIX/squatter.out" 2>&1 &
    squatter=$!
    deadline=$((SECONDS + 10))
    until grep -q listening "$WINEPREFIX/squatter.out" || [ $SECONDS -ge $deadline ]; do
        sleep 0.1
    done
    # Refused here because Wine names no listener's owner, so the real service would be too;
    # the emulated machine and Windows compare the owner with the service's process.
    set +e; answer=$(client auth-info); code=$?; set -e
    echo "$answer" | sed 's/^/    /'
    if [ $code -eq $notTheService ] && echo "$answer" | grep -q "refused to send auth-info"; then
        pass "the squatter is refused auth-info (exit $code)"
    else
        fail "auth-info to a squatter: exit $code"
    fi
    kill "$squatter" 2>/dev/null || true
    wait "$squatter" 2>/dev/null || true
    squatter=""
    took "squatter"
fi

section "Uninstall silently"
# Wine's msiexec may remove the files of a service still stopping: stop it and wait first.
if [ "$(serviceState)" != STOPPED ]; then
    sc stop "$service" >/dev/null || true
    waitForState STOPPED 30 || fail "sc stop before uninstall: state $(serviceState)"
fi
serviceProcessGone 30 || fail "the service process did not end before the uninstall"
set +e; timeout 300 "$wine" msiexec /x 'C:\OrvaneClient.msi' /qn /l*v 'C:\uninstall.log'; code=$?
set -e
if [ $code -eq 0 ]; then pass "msiexec /x /qn: exit 0"; else fail "msiexec /x: exit $code"; fi
if reg query "$serviceKey" >/dev/null; then fail "the service is still registered"; else
    pass "the service is removed"; fi
if [ -e "$installDir/OrvaneService.exe" ] || [ -e "$installDir/orvane-client.exe" ]; then
    fail "files are left in $installDir"
else
    pass "the files are removed"
fi
if reg query 'HKLM\SOFTWARE\Qovex\OrvaneClient' >/dev/null; then fail "the client key is left"; else
    pass "the client key is removed"; fi
if reg query 'HKLM\SOFTWARE\Qovex\Games' >/dev/null; then pass "the games key is kept"; else
    fail "the games key was removed"; fi
took "uninstall"

echo
if [ $failures -eq 0 ]; then
    echo "MSI under Wine: all passed"
else
    echo "MSI under Wine: $failures failed"
    exit 1
fi
