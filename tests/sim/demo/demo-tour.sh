#!/usr/bin/env bash
# kavanti-demo's own work, with the application replaced by FakeKavanti (the real D-Bus control
# over a window of panes) and the service and sudo simulators by stubs: the tour passes and
# keeps its screenshots, a failing step fails the demo, Ctrl+C stops it, and no process of its
# sandbox is left in any case.
#   demo-tour.sh STAGE_BIN TEST_BIN DEMO_SCRIPT
set -uo pipefail
stage=$1 testbin=$2 demo=$3
# Under the sanitiser build: libxkbcommon-x11 (Qt's xcb platform, on the demo's Xvfb) reads
# a length-bounded name with strndup, which strict_string_checks reports as an overflow.
[ -n "${ASAN_OPTIONS:-}" ] && export ASAN_OPTIONS="$ASAN_OPTIONS:strict_string_checks=0"
work=$(mktemp -d /tmp/kavanti-demo-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
failed=0
check() { if ! eval "$2"; then echo "FAILED: $1"; failed=1; fi; }

# A bin folder as an install has it; the demo takes its pieces from beside itself.
make_bin() { # folder kavanti-options...
    local bin=$1; shift
    mkdir -p "$bin"
    cp "$demo" "$bin/kavanti-demo"
    for p in kavanti-ctl kavanti-cardsim kavanti-pppsim; do ln -s "$stage/$p" "$bin/$p"; done
    # The fake takes the account's user name from the sandbox's settings, as Kavanti would.
    cat > "$bin/kavanti" <<WRAPPER
#!/bin/sh
user=\$(sed -n '/<key>UserName<\/key>/{n;s|.*<string>\(.*\)</string>.*|\1|p}' "\$XDG_CONFIG_HOME/kavanti/Kavanti.plist")
exec "$testbin/FakeKavanti" --show --user "\$user" $*
WRAPPER
    printf '#!/bin/sh\necho 8080\nexec sleep 1000\n' > "$bin/kavanti-servicesim"
    printf '#!/bin/sh\nexit 1\n' > "$bin/kavanti-sudosim"
    chmod +x "$bin"/kavanti "$bin"/kavanti-servicesim "$bin"/kavanti-sudosim
}

# The width in a PNG's header.
png_width() { od -An -tu1 -j16 -N4 "$1" | awk '{print $1*16777216 + $2*65536 + $3*256 + $4}'; }

# Processes that still run inside the sandbox named in the demo's output.
leftovers() {
    local root pid
    root=$(sed -n 's/^Kavanti demo in //p' "$1" | head -n1)
    [ -n "$root" ] || { echo "no sandbox line"; return; }
    for pid in /proc/[0-9]*; do
        [ "$(cut -d' ' -f3 "$pid/stat" 2>/dev/null)" = Z ] && continue
        if tr '\0' '\n' < "$pid/environ" 2>/dev/null | grep -qx "KAVANTI_ROOT=$root"; then
            echo "${pid#/proc/} $(tr '\0' ' ' < "$pid/cmdline")"
        fi
    done
    [ -e "$root" ] && echo "sandbox folder $root left"
}

make_bin "$work/ok"
env -u DISPLAY -u WAYLAND_DISPLAY "$work/ok/kavanti-demo" --screenshots "$work/shots" > "$work/ok.out" 2>&1
status=$?
check "the tour passes (exit $status)" '[ $status -eq 0 ]'
check "every step is reported" 'grep -q "Tour complete" "$work/ok.out"'
check "statuses are printed in order" \
    '[ "$(sed -n "s/^ *status \(-\{0,1\}[0-9]*\):.*/\1/p" "$work/ok.out" | tr "\n" " ")" = "0 4 6 3 2 10 11 7 0 " ]'
check "the administrator and its password are printed" 'grep -Eq "administrator +[^ ]+, password: demo-" "$work/ok.out"'
for shot in 1-start 2-measured 3-connected 4-remaining-time 5-disconnected; do
    check "screenshot $shot is a PNG" '[ "$(head -c 4 "$work/shots/$shot.png" | od -An -c | tr -d " ")" = "211PNG" ]'
    # The demo trims the screen's empty border away: an empty screen would leave one pixel.
    check "screenshot $shot shows the window" '[ "$(png_width "$work/shots/$shot.png")" -gt 100 ]'
done
check "nothing is left after the tour" '[ -z "$(leftovers "$work/ok.out")" ]'

# The account is refused: the tour stops at Connect and says so.
make_bin "$work/refused" --user a
env -u DISPLAY -u WAYLAND_DISPLAY "$work/refused/kavanti-demo" > "$work/refused.out" 2>&1
status=$?
check "a refused step fails the demo (exit $status)" '[ $status -eq 1 ]'
check "the failing step is named" 'grep -q "the tour stopped: Connect was refused" "$work/refused.out"'
check "nothing is left after a failure" '[ -z "$(leftovers "$work/refused.out")" ]'

# Ctrl+C in the middle of the tour: SIGINT to the demo's whole process group, as a terminal
# sends it (job control gives the demo a group of its own and leaves SIGINT to it).
make_bin "$work/int"
set -m
env -u DISPLAY -u WAYLAND_DISPLAY "$work/int/kavanti-demo" > "$work/int.out" 2>&1 &
demo_pid=$!
set +m
for _ in $(seq 300); do grep -q '^Tour' "$work/int.out" && break; sleep 0.1; done
kill -INT -- "-$demo_pid"
wait "$demo_pid"
status=$?
check "an interrupted demo does not report success (exit $status)" '[ $status -ne 0 ]'
check "nothing is left after Ctrl+C" '[ -z "$(leftovers "$work/int.out")" ]'

# The whole-program test (run against the real application where it is built) holds for the
# fake as well: it runs inside the demo's sandbox and leaves nothing behind.
make_bin "$work/exec"
"$work/exec/kavanti-demo" --exec "$(dirname "$0")/app-dbus.sh" > "$work/exec.out" 2>&1
status=$?
check "the D-Bus test of the whole program passes in the demo's sandbox (exit $status)" '[ $status -eq 0 ]'
check "nothing is left after --exec" '[ -z "$(leftovers "$work/exec.out")" ]'

if [ $failed -ne 0 ]; then
    for f in ok refused int exec; do echo "--- $f"; cat "$work/$f.out"; done
fi
exit $failed
