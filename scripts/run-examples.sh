#!/bin/sh
# Shows the compiler at work. Until examples exist, it shows the usage error.
JSXC=${1:-build/jsxc}
echo "\$ $JSXC"
"$JSXC" || true
