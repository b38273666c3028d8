#!/bin/sh
# Installs the build into a prefix other than the configured one and sets the
# product up from there for a fresh user: the installed set-up must find the
# installed data files and point the user's entries at the installed programs.
#   install_check.sh <build folder>
set -eu
tmp=$(realpath "$(mktemp -d)")
trap 'rm -rf "$tmp"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$1" --prefix "$tmp/prefix" >/dev/null
export HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/config" XDG_DATA_HOME="$tmp/data" \
    XDG_RUNTIME_DIR="$tmp/run" TMPDIR="$tmp/tmp"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR" "$TMPDIR"
chmod 700 "$XDG_RUNTIME_DIR"

out=$("$tmp/prefix/bin/kvsetup") || fail "kvsetup: $out"
echo "$out"
dir=$(echo "$out" | sed -n 's/^InstallDir: //p')
for f in trillo.wav pingoa1.wav quillon.htm kivara.svg; do
    [ -f "$dir$f" ] || fail "$f was not copied from the installed data files"
done
[ "$(readlink "${dir}vigilo")" = "$tmp/prefix/bin/vigilo" ] || fail "the vigilo link does not lead to the installed monitor"
grep -qF "Exec=\"$tmp/prefix/bin/vigilo\" %f" "$XDG_DATA_HOME/applications/kivara-vigilo.desktop" ||
    fail "the monitor's desktop entry does not start the installed monitor"
echo "PASS"
