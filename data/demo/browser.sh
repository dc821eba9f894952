#!/bin/sh
# Stands in for the browser in the demo: it only tells which URL it was asked
# to show, on stderr and in browser.log beside it. Like a browser, it takes a
# moment to start: its line follows the host's report of the open.
sleep 0.5
printf 'browser stand-in: asked to show %s\n' "$1" | tee -a "$(dirname "$0")/browser.log" >&2
