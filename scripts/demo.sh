#!/usr/bin/env bash
# Builds zeplo and the localqm stand-in queue manager, then shows the main
# job: a queue of varied messages unloaded to a message file, and the file
# loaded back onto a second queue. Everything lives in a scratch data root,
# so nothing of the user's is touched.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZEPLO_TESTS=OFF -DZEPLO_BENCH=OFF >/dev/null
cmake --build "$build"

zeplo=$PWD/$build/bin/zeplo
localqm=$PWD/$build/mqinst/bin/localqm
export MQ_INSTALLATION_PATH=$PWD/$build/mqinst
export LOCALQM_ROOT
LOCALQM_ROOT=$(mktemp -d /tmp/zeplo-demo.XXXXXX)
work=$LOCALQM_ROOT/files
mkdir -p "$work"
trap 'rm -rf "$LOCALQM_ROOT"' EXIT

step() { printf '\n== %s ==\n' "$*"; }

step "A queue manager DEMO.QM with queues ORDERS and ORDERS.COPY"
"$localqm" create DEMO.QM --default
"$localqm" define DEMO.QM ORDERS
"$localqm" define DEMO.QM ORDERS.COPY
"$localqm" put DEMO.QM ORDERS --text "order 1001: 3 boxes of tea" --format MQSTR \
  --correlid 4F524445522D31303031 --priority 5
"$localqm" put DEMO.QM ORDERS --text "order 1002: cancelled" --format MQSTR \
  --replyto ORDERS.REPLY --msgtype 1
"$localqm" put DEMO.QM ORDERS --hex 00010203FEFF48656C6C6F
printf 'line one\nline two\n' | "$localqm" put DEMO.QM ORDERS --format MQSTR --applid batch-42
echo "ORDERS depth: $("$localqm" depth DEMO.QM ORDERS)"

step "Unload ORDERS to orders.zpd by browsing (the messages stay)"
"$zeplo" -m DEMO.QM -i ORDERS -f "$work/orders.zpd"

step "The message file"
cat "$work/orders.zpd"

step "Load the file onto ORDERS.COPY"
"$zeplo" -m DEMO.QM -o ORDERS.COPY -f "$work/orders.zpd"
echo "ORDERS depth: $("$localqm" depth DEMO.QM ORDERS)"
echo "ORDERS.COPY depth: $("$localqm" depth DEMO.QM ORDERS.COPY)"

step "Find the message that mentions order 1002, without removing anything"
"$zeplo" -m DEMO.QM -i ORDERS -s "1002" -f stdout -dA -q

step "A refused command line ends with return code 2046 (exit status 254)"
set +e
"$zeplo" -m DEMO.QM -i ORDERS -I ORDERS.COPY
echo "exit status: $?"
