#!/bin/sh
# Four Kabinex launching four zipped games at once, ROUNDS times (default 100), offscreen and in
# an X server both bare and under openbox: prints the lost launches of each.
#   bench/concurrent-launches.sh BUILD_DIR [ROUNDS]
set -u
build=${1:?usage: $0 BUILD_DIR [ROUNDS]}
rounds=${2:-100}
race() {
    KBX_RACE_ROUNDS=$rounds "$build/test_launcher" --gtest_filter='ConcurrentLaunchTest.*' 2>&1 | grep -E 'lost|round [0-9]+:'
}
echo "offscreen:"; QT_QPA_PLATFORM=offscreen race
display=:97
Xvfb $display -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
sleep 1
echo "X server, no window manager:"; DISPLAY=$display QT_QPA_PLATFORM=xcb race
DISPLAY=$display openbox >/dev/null 2>&1 &
wm=$!
sleep 1
echo "X server, openbox:"; DISPLAY=$display QT_QPA_PLATFORM=xcb race
kill $wm $xvfb
