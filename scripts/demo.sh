#!/usr/bin/env bash
# Installs what is needed, builds, and runs one real sign-in through the helper: the bundled
# demo identity provider serves a sign-in page on 127.0.0.1, and corvane-tavisk-client starts
# the helper, sends hello and navigate, and prints every request line ("> ") and reply line
# ("< ") on standard error and the redirect URL on standard output.
#
# On a desktop (DISPLAY or WAYLAND_DISPLAY set) you sign in in the window that opens. With no
# display the script starts its own Xvfb and the demo page fills itself in and submits itself.
# Everything the script starts is stopped when it ends.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

say() { printf 'demo: %s\n' "$*" >&2; }
fail() { say "$*"; exit 1; }

# Standard output is kept for the redirect URL alone: the rest goes to standard error.
if command -v apt-get >/dev/null && command -v dpkg-query >/dev/null; then
    scripts/install-deps.sh >&2
else
    say "not a Debian system: install the packages README.md lists for it, if not done yet"
fi

# Builds only what is out of date; configures only the first time.
[ -f build/build.ninja ] || cmake -S . -B build -G Ninja >&2
cmake --build build >&2

helper=$root/build/src/corvane-tavisk
client=$root/build/tools/client/corvane-tavisk-client
[ -x "$helper" ] && [ -x "$client" ] || fail "the build made no $helper or $client"
python=/usr/bin/python3
[ -x "$python" ] || python=$(command -v python3) || fail "python3 is needed for the provider"

work=$(mktemp -d "${TMPDIR:-/tmp}/tavisk-demo.XXXXXX")
client_pid=""
provider_pid=""
xvfb_pid=""
cleanup() {
    # The client first: it takes the helper down with it, before the display goes away.
    for pid in $client_pid $provider_pid $xvfb_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'say "interrupted: stopping everything the demo started"; exit 130' INT
trap 'say "terminated: stopping everything the demo started"; exit 143' TERM

# Waits, at most $2 seconds, for file $1 to hold a whole line, and prints that line.
first_line() {
    local file=$1 tries=$(($2 * 10)) line
    while [ "$tries" -gt 0 ]; do
        # Errors off first: the file may not exist yet, and its absence is no error here.
        if IFS= read -r line 2>/dev/null <"$file" && [ -n "$line" ]; then
            printf '%s\n' "$line"
            return 0
        fi
        sleep 0.1
        tries=$((tries - 1))
    done
    return 1
}

auto_submit=()
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    timeout_ms=300000
    say "a sign-in window will open: sign in there with any user name and password"
    say "(or close the window to see a cancelled sign-in; it gives up after 5 minutes)"
else
    command -v Xvfb >/dev/null || fail "no display and no Xvfb to start one"
    # Xvfb picks a free display number itself and writes it once it accepts connections.
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" \
        </dev/null >/dev/null 2>&1 &
    xvfb_pid=$!
    number=$(first_line "$work/display" 15) || fail "Xvfb did not start"
    export DISPLAY=":$number"
    auto_submit=(--auto-submit)
    timeout_ms=60000
    say "no display here: started Xvfb on $DISPLAY; the demo page fills itself in and signs in"
    say "by itself after a moment, with no one at the display"
fi

# The engine refuses to run as root with its sandbox on. This demo (never the helper itself)
# turns the sandbox off for this one run when it is started as root.
if [ "$(id -u)" -eq 0 ] && [ -z "${QTWEBENGINE_DISABLE_SANDBOX:-}" ]; then
    export QTWEBENGINE_DISABLE_SANDBOX=1
    say "running as root: the web engine's sandbox is off for this run"
    say "(QTWEBENGINE_DISABLE_SANDBOX=1); run the demo as a normal user to keep it"
fi
# Qt needs a runtime folder; a private one when there is none. QT_LOGGING_RULES is left as the
# person has it: setting it would turn the helper's quiet standard error off, and the demo shows
# what a client's user sees.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    mkdir -m 0700 "$work/runtime"
    export XDG_RUNTIME_DIR=$work/runtime
fi

"$python" tools/demo/demo_provider.py "${auto_submit[@]}" >"$work/provider" &
provider_pid=$!
authorize=$(first_line "$work/provider" 15) || fail "the demo provider did not start"
redirect_uri="ms-appx-web://demo.example/signed-in"
encoded_redirect_uri="ms-appx-web%3A%2F%2Fdemo.example%2Fsigned-in"
state=demo-$$
url="$authorize?client_id=corvane-tavisk-demo&redirect_uri=$encoded_redirect_uri&state=$state"
say "demo provider at $authorize"
say "running: corvane-tavisk-client --helper build/src/corvane-tavisk --url '$url'"
say "         --redirect-uri '$redirect_uri' --title 'corvane-tavisk demo' --timeout-ms $timeout_ms"
echo >&2

# In the background, so that an interrupt reaches our trap at once; stopping the client (in
# cleanup) makes it stop the helper and its window too.
"$client" --helper "$helper" --url "$url" --redirect-uri "$redirect_uri" \
    --title "corvane-tavisk demo" --timeout-ms "$timeout_ms" >"$work/result" &
client_pid=$!
status=0
wait "$client_pid" || status=$?
client_pid=""
result=$(cat "$work/result")

echo >&2
case $status in
0) say "signed in; the client printed the redirect URL on standard output:"
   printf '%s\n' "$result" ;;
2) say "the sign-in did not succeed (the client's exit status is 2); see its reason above" ;;
*) say "the client failed with exit status $status; see above" ;;
esac
exit "$status"
