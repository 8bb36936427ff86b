#!/usr/bin/env bash
# Two instances of the program joined by a virtual null-modem cable. Each runs
# in a folder of its own with a copy of the program, the codec, a few sample
# users and a History folder; in each folder "Com1" links to that instance's
# end of the cable, so pressing Enter in both login dialogs connects them.
# Closing both windows ends the demo and the cable.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "The demo needs a display (DISPLAY or WAYLAND_DISPLAY is not set)." >&2
    exit 1
fi
scripts/setup.sh >&2

demo=$(mktemp -d /tmp/quorvik-demo-XXXXXX)
users='<?xml version="1.0" encoding="windows-1251"?>
<users>
  <user name="Orlek" port="Com1"/>
  <user name="Anna" port="Com1"/>
  <user name="Boris" port="Com2"/>
</users>'
for side in A B; do
    mkdir -p "$demo/$side/History"
    cp build/bin/quorvik build/bin/libKelvane.so build/bin/login.jpg "$demo/$side/"
    printf '%s\n' "$users" >"$demo/$side/viewUsers.xml"
done

socat pty,raw,echo=0,link="$demo/A/Com1" pty,raw,echo=0,link="$demo/B/Com1" &
cable=$!
trap 'kill $cable 2>/dev/null; wait $cable 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    [ -e "$demo/A/Com1" ] && [ -e "$demo/B/Com1" ] && break
    sleep 0.1
done

(cd "$demo/A" && ./quorvik) &
a=$!
(cd "$demo/B" && ./quorvik) &
b=$!
echo "Demo folders: $demo/A and $demo/B. Press Enter in both login dialogs." >&2
wait $a $b || true
