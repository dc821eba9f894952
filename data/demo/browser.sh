#!/bin/sh
# Stands in for the browser in the demo: it only tells which URL it was asked
# to show, on stderr and in browser.log beside it.
printf 'browser stand-in: asked to show %s\n' "$1" | tee -a "$(dirname "$0")/browser.log" >&2
