#!/bin/bash
# build_load.sh -- a machine under a parallel build, as a player's may be: builds this project
# with make -j2 in a scratch folder, over and over, until it is killed. Start it in a process
# group of its own (setsid) and end it by the group's id, so its compilers end with it.
# Usage: build_load.sh SOURCE_DIR SCRATCH_DIR
set -u
SOURCE_DIR=$1
SCRATCH=$2
cmake -S "$SOURCE_DIR" -B "$SCRATCH" -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  >"$SCRATCH.configure.log" 2>&1 || exit 1
while :; do
  make -C "$SCRATCH" -j2 clean >/dev/null 2>&1
  make -C "$SCRATCH" -j2 quorvane quorvane-sim >/dev/null 2>&1
done
