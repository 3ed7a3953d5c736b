#!/usr/bin/env bash
# Installs the build tree into a staging prefix and checks that every file
# lands where the conventions put it and that the installed programs run.
set -euo pipefail
build=$1
stage=$2
rm -rf "$stage"
cmake --install "$build" --prefix "$stage" >/dev/null
for f in bin/frame_stats bin/frame_stats_plot share/man/man1/frame_stats.1 \
         lib/udev/rules.d/70-frame-stats.rules; do
    [ -e "$stage/$f" ] || { echo "missing after install: $f" >&2; exit 1; }
done
"$stage/bin/frame_stats" --version | grep -q '^frame_stats [0-9]'
"$stage/bin/frame_stats_plot" --help >/dev/null
grep -q 'TAG+="uaccess"' "$stage/lib/udev/rules.d/70-frame-stats.rules"
echo "install layout ok"
