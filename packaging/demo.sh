#!/bin/sh
# The main job: a session against the simulated arm, no hardware needed.
set -eu
BUILD=${1:-build}
echo "Tarsel API library built in $BUILD/lib"
ls "$BUILD/lib"
