#!/usr/bin/env bash
# The whole program over D-Bus, run inside kavanti-demo's sandbox (kavanti-demo --exec): every
# method and property of org.kavanti.Kavanti1, an account the panel refuses, a second start
# handing over, and kavanti-ctl's status --json and watch --until reading the same.
set -uo pipefail
bin=$KAVANTI_DEMO_BIN
ctl() { "$bin/kavanti-ctl" "$@"; }
failed=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; failed=1; fi; }
wait_for() { local end=$((SECONDS + $1)); shift; until "$@" >/dev/null 2>&1; do [ $SECONDS -lt $end ] || return 1; sleep 0.1; done; }
gone() { ! kill -0 "$1" 2>/dev/null || [ "$(cut -d' ' -f3 "/proc/$1/stat" 2>/dev/null)" = Z ]; }
quit() { # pid
    dbus-send --session --print-reply --dest=org.kavanti.Kavanti /org/kavanti/Kavanti org.kavanti.Kavanti1.Quit >/dev/null
    wait_for 30 gone "$1" || { kill -KILL "$1"; echo "FAILED: Kavanti did not quit"; failed=1; }
    wait "$1" 2>/dev/null
}
json_has() { ctl status --json | tr -d ' \n' | grep -q "$1"; }
prefs=$XDG_CONFIG_HOME/kavanti/Kavanti.plist
out=$KAVANTI_ROOT/app-dbus
mkdir -p "$out"

# An account the dial-up panel refuses: a one-character user name.
cp "$prefs" "$out/prefs.good"
sed -i '/<key>UserName<\/key>/{n;s|<string>.*</string>|<string>a</string>|}' "$prefs"
"$bin/kavanti" > "$out/bad.log" 2>&1 &
app=$!
check "Kavanti comes up on the bus" 'wait_for 60 ctl status'
ctl connect > "$out/connect.out" 2> "$out/connect.err"; status=$?
check "Connect with a refused account fails" '[ $status -eq 1 ] && grep -q org.kavanti.Kavanti1.Error.InvalidAccount "$out/connect.err"'
check "and starts nothing" 'json_has "\"Status\":0"'
quit $app
cp "$out/prefs.good" "$prefs"

"$bin/kavanti" > "$out/app.log" 2>&1 &
app=$!
check "Kavanti comes up again" 'wait_for 60 ctl status'
for p in Status AppStatus StatusMessage RemainingTime RemainingTimeCaption ConnectEnabled DisconnectEnabled \
         CancelEnabled RemainingTimeEnabled Card; do
    check "property $p" 'json_has "\"$p\":"'
done
check "idle: Connect on, Disconnect, Cancel and remaining time off" \
    'json_has "\"ConnectEnabled\":true,\"DisconnectEnabled\":false,\"CancelEnabled\":false,\"RemainingTimeEnabled\":false"'

timeout 60 "$bin/kavanti" > "$out/second.log" 2>&1; status=$?
check "a second start hands over and exits 0 (exit $status)" '[ $status -eq 0 ]'
check "the first one still runs" '! gone $app && ctl status >/dev/null'
check "ShowWindow" 'dbus-send --session --print-reply --dest=org.kavanti.Kavanti /org/kavanti/Kavanti org.kavanti.Kavanti1.ShowWindow >/dev/null'

ctl measure; status=$?
check "Measure" '[ $status -eq 0 ] && wait_for 60 json_has "\"ModelName\":"'
check "the card's values" 'json_has "\"Channel\":3" && json_has "\"Intensity\":\[3,3,3,3,4,4,4,4,5,5,5,5,5\]"'
check "Cancel while idle is refused" '! ctl cancel 2>/dev/null'
check "the remaining-time button while idle is refused" '! ctl remaining-time 2>/dev/null'

ctl watch --until 2 > "$out/watch.out" 2>&1 &
watch=$!
wait_for 30 test -s "$out/watch.out"
ctl connect --redial; status=$?
check "Connect" '[ $status -eq 0 ]'
wait_for 120 gone $watch
wait $watch; status=$?
check "watch --until 2 ends with 2 (exit $status)" '[ $status -eq 0 ] && [ "$(tail -n1 "$out/watch.out")" = 2 ]'
check "watch saw the statuses in order" '[ "$(tr "\n" " " < "$out/watch.out")" = "0 4 6 3 2 " ]'
# Once connected the application fetches the remaining time by itself (statuses 10 and 11).
check "status --json reads the same" 'json_has "\"AppStatus\":2" && ctl status --json | tr -d " \n" | grep -Eq "\"Status\":(2|10|11),"'
check "connected: Disconnect and remaining time on, Connect off" \
    'json_has "\"ConnectEnabled\":false,\"DisconnectEnabled\":true" && json_has "\"RemainingTimeEnabled\":true"'
check "Measure while connected is refused" '! ctl measure 2>/dev/null'
ctl remaining-time; status=$?
check "FetchRemainingTime" '[ $status -eq 0 ] && wait_for 60 bash -c "\"$bin/kavanti-ctl\" status | grep -Eq \"^RemainingTime: +[0-9]+:[0-9]{2}\""'
check "its caption" '[ -n "$(ctl status | sed -n "s/^RemainingTimeCaption: *//p")" ]'
check "Disconnect" 'ctl disconnect && ctl watch --until 0 >/dev/null'
check "back to idle" 'json_has "\"ConnectEnabled\":true"'
quit $app
check "Quit ends Kavanti" 'gone $app'
exit $failed
