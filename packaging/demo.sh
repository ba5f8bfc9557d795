#!/bin/sh
# The main job: a session with the simulated arm and no hardware. The arm sits
# on a virtual USB bus (tarsel-sim-usb), so every command below goes through
# the real link library and libusb, and the arm keeps its state from one
# command to the next.
set -eu
BUILD=$(cd "${1:-build}" && pwd)
TARSEL="$BUILD/bin/tarsel"
export TARSEL_SIM_TIME_SCALE="${TARSEL_SIM_TIME_SCALE:-5}"

exec "$BUILD/bin/tarsel-sim-usb" /bin/sh -eu -c '
T="$1"
step() { printf "\n== %s\n\$ tarsel %s\n" "$1" "$2"; }
step "The arm and its versions" "status"
"$T" status
step "Send it home and wait until it is there" "home"
"$T" home
step "A short trajectory: two joint-space points" "move --joints ... --wait"
"$T" move --joints 20 60 110 10 70 15 --wait
"$T" move --joints -20 50 120 -10 60 -15 --wait
"$T" positions
"$T" positions --cartesian
step "Initialise the fingers" "fingers init"
"$T" fingers init
step "The error log" "errors list"
"$T" errors list
"$T" errors clear
printf "\nSession finished: every command above ran against the simulated arm.\n"
' demo "$TARSEL"
