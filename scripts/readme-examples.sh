#!/usr/bin/env bash
# Runs every command README.md shows for Linux, as written, on the built-in machine, and checks
# what each prints against what the README says it prints, so that the README stays true.
# scripts/test.sh runs it after the default preset (the commands name build/default).
#
# The commands use the product's port 127.0.0.1:9977, the default host root ~/.orvane-win32emu
# and /tmp/emu: they run in a network namespace and a /tmp of their own
# (build/default/tests/private-loopback), with HOME a fresh folder, so neither a service running
# on the machine nor another run meets them. Exit code 0 when every example held, 1 when not.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = -h ] || [ "${1:-}" = --help ]; then
    echo "usage: scripts/readme-examples.sh"
    sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
fi
if [ $# -gt 0 ]; then
    echo "readme-examples.sh: unknown argument $1" >&2
    echo "usage: scripts/readme-examples.sh" >&2
    exit 2
fi
if [ -z "${ORVANE_README_EXAMPLES_INSIDE:-}" ]; then
    export ORVANE_README_EXAMPLES_INSIDE=1
    exec build/default/tests/private-loopback --private-tmp bash "$0"
fi
HOME="$(mktemp -d)"
export HOME
unset WIN32EMU_ROOT WIN32EMU_PROFILE

# The README's Linux commands, one per line: code lines (indented four spaces) that start with a
# program of this tree, cmake, ctest or bash, "$ " prompts dropped and "\" continuations joined.
readme_commands() {
    awk '
        /^    / {
            line = substr($0, 5)
            if (pending != "") {
                sub(/^ +/, "", line)
                line = pending " " line
                pending = ""
            } else {
                sub(/^\$ /, "", line)
                if (line !~ /^(scripts\/|build\/|cmake |ctest |bash )/) next
            }
            if (line ~ / \\$/) {
                sub(/ \\$/, "", line)
                pending = line
                next
            }
            print line
        }' README.md
}

# What the README shows a "$ " command printing: the code lines after it, up to the block's end.
readme_output() {
    awk -v command="$1" '
        /^    / {
            line = substr($0, 5)
            if (printing) { print line; next }
            if (pending != "") {
                sub(/^ +/, "", line)
                line = pending " " line
                pending = ""
            } else if (line ~ /^\$ /) {
                sub(/^\$ /, "", line)
            } else {
                next
            }
            if (line ~ / \\$/) { sub(/ \\$/, "", line); pending = line; next }
            if (line == command) printing = 1
            next
        }
        { printing = 0 }' README.md
}

# The README's code line that starts with `prefix` (an example of what orvane-sc prints).
readme_line() {
    grep -m1 "^    $1" README.md | sed 's/^    //'
}

failures=0
ran=()
out=""
status=0

fail() {
    echo "   FAILED: $*"
    failures=$((failures + 1))
}

check_is_readme_command() {
    readme_commands | grep -qxF -- "$1" || fail "not a command the README shows: $1"
    ran+=("$1")
}

# Runs a README command to its end: its output in $out, its exit status in $status.
example() {
    check_is_readme_command "$1"
    echo "== $1"
    set +e
    out="$(timeout 600 bash -c "$1" 2>&1 </dev/null)"
    status=$?
    set -e
    printf '%s\n' "$out" | sed 's/^/   | /'
}

# Runs a README command that runs on (a server), its output into the file `$2`.
example_in_background() {
    check_is_readme_command "$1"
    echo "== $1 (in the background, output in $2)"
    bash -c "$1" >"$2" 2>&1 </dev/null &
    background=$!
}

expect_status() {
    [ "$status" -eq "$1" ] || fail "exit status $status, expected $1"
}
says() {
    grep -qF -- "$1" <<<"$out" || fail "no \"$1\" in the output"
}
matches() {
    grep -qE -- "$1" <<<"$out" || fail "no line matching /$1/ in the output"
}
# Every line the README shows the command printing, a process id standing for any.
prints_what_the_readme_shows() {
    local line found=0
    while IFS= read -r line; do
        found=1
        if [[ "$line" =~ ^pid\ +[0-9]+$ ]]; then
            matches '^pid +[0-9]+$'
        else
            grep -qxF -- "$line" <<<"$out" || fail "the README shows \"$line\"; not printed"
        fi
    done < <(readme_output "$1")
    [ "$found" -eq 1 ] || fail "the README shows no output for $1"
}
# Waits, up to a minute, for `text` in the file `file` (what a background command prints).
wait_for() {
    local file="$1" text="$2" deadline=$((SECONDS + 60))
    until grep -qF -- "$text" "$file" 2>/dev/null; do
        if [ "$SECONDS" -ge "$deadline" ]; then
            fail "no \"$text\" in $file within 60 s"
            sed 's/^/   | /' "$file"
            return
        fi
        sleep 0.1
    done
}

# Commands this run does not repeat, and why.
skipped=(
    "scripts/test.sh all"
    "cmake --preset default && cmake --build --preset default && ctest --preset default"
    "cmake --preset sanitize && cmake --build --preset sanitize && ctest --preset sanitize"
    "scripts/test.sh windows"
    "bash packaging/windows/build-msi.sh [--build build/windows] [--out FILE.msi] [--cert CERT.pem --key KEY.pem]"
)
echo "== not run here: the test runs themselves (this script is part of them), and the Windows"
echo "   build and installer, which scripts/test.sh windows runs under Wine"

# Quick start: the SCM with the service installed, and a client in a second terminal.
serveLog="$HOME/run-service.log"
example_in_background "scripts/run-service.sh" "$serveLog"
serve=$background
wait_for "$serveLog" "install service=\"Orvane Client Service\" start=DEMAND"
wait_for "$serveLog" "drive C: path=$HOME/.orvane-win32emu/C"

example "build/default/tools/orvane-sc/orvane-sc interrogate"
expect_status 1
says "error 1062: the service has not been started"

example "build/default/tools/orvane-client/orvane-client library-info"
expect_status 0
matches '^answered by +pid [0-9]+, the service; started by this request$'
says "code           OK (200)"
wait_for "$serveLog" "status state=RUNNING(4)"

example "build/default/tools/orvane-sc/orvane-sc interrogate"
expect_status 0
says "status state=RUNNING(4)"

command="build/default/tools/orvane-client/orvane-client launch 'C:\Program Files (x86)\Qovex Games\Starfall\Starfall.exe' --args 'Starfall.exe -windowed' --elevated"
example "$command"
expect_status 0
prints_what_the_readme_shows "$command"
pid="$(sed -n 's/^pid *\([0-9][0-9]*\)$/\1/p' <<<"$out")"
launchEvent="$(readme_line "event launch ")"
wait_for "$serveLog" "${launchEvent% pid=*} pid=$pid"

command="build/default/tools/orvane-client/orvane-client fix-dir 'C:\Games\Mine'"
example "$command"
expect_status 0
prints_what_the_readme_shows "$command"
wait_for "$serveLog" "$(readme_line "event acl object=C:")"

example "build/default/tools/orvane-sc/orvane-sc stop"
expect_status 0
says "status state=STOP_PENDING(3)"
wait_for "$serveLog" "exit code=0"

example "build/default/tools/orvane-sc/orvane-sc stop"
expect_status 1
says "error 1062: the service has not been started"

kill -INT "$serve"
status=0
wait "$serve" || status=$?
echo "== scripts/run-service.sh ended by Ctrl-C (SIGINT)"
expect_status 0

# The tools.
example "cmake --preset default && cmake --build build/default --target orvane-bench && build/default/tools/orvane-bench/orvane-bench"
expect_status 0
says "library-info round trips on 127.0.0.1"
matches '^connections +run +requests/s +p50 us +p99 us$'
matches '^1 +ratio +[0-9.]+x'

example "cmake --build build/default --target OrvaneService orvane-sc orvane-soak"
expect_status 0
runLog="$HOME/run.log"
example_in_background "build/default/tools/orvane-sc/orvane-sc run --root /tmp/emu &" "$runLog"
example "build/default/tools/orvane-soak/orvane-soak --seconds 10 --log /tmp/emu/C/ProgramData/OrvaneClient/logs/OrvaneService.log"
expect_status 0
says "service stayed up: yes"
matches '^log: [0-9.]+ KB/s written; on disk [0-9]+ files, [0-9.]+ MiB$'
example "build/default/tools/orvane-sc/orvane-sc stop --root /tmp/emu"
expect_status 0
wait_for "$runLog" "exit code=0"

# Every Linux command of the README ran here, or is listed above as not run.
while IFS= read -r command; do
    covered=0
    for done in "${ran[@]}" "${skipped[@]}"; do
        [ "$done" = "$command" ] && covered=1
    done
    [ "$covered" -eq 1 ] || fail "the README shows a command no example runs: $command"
done < <(readme_commands)

if [ "$failures" -gt 0 ]; then
    echo "readme-examples: $failures failed"
    exit 1
fi
echo "readme-examples: every example held"
