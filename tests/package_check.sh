#!/usr/bin/env bash
# The Debian package as a user meets it. As root with dpkg, and no Kivara
# package installed already, the package is installed into this machine;
# otherwise it is unpacked into a staging root. Then, as a fresh user with no
# set-up (only a profile and the loopback network probe of a test computer),
# the installed monitor starts: its first start must set the user up, make
# ".kvp" known to the desktop with the monitor as its handler, and answer a
# HELLO on loopback with HELLOWAIT. Removing an installed package must leave
# none of its files behind.
#   package_check.sh <kivara_*.deb>
set -eu
deb=$(realpath "$1")
tmp=$(realpath "$(mktemp -d)")
fail() {
    for log in monitor.log prompts.log shell.log; do
        [ ! -f "$tmp/$log" ] || { echo "--- $log" >&2; cat "$tmp/$log" >&2; }
    done
    echo "FAIL: $*" >&2
    exit 1
}

bin=""
installed=""
group=""
# Ends the monitor's process group (it closes on TERM as at logout; what does not end
# in 10 s is killed), then what it started detached: the mail host, the opener.
stop_programs() {
    if [ -n "$group" ]; then
        kill -TERM -- "-$group" 2>/dev/null || true
        for _ in $(seq 50); do
            kill -0 -- "-$group" 2>/dev/null || break
            sleep 0.2
        done
        kill -KILL -- "-$group" 2>/dev/null || true
        group=""
    fi
    [ -z "$bin" ] && return
    for proc in /proc/[0-9]*; do
        case "$(readlink "$proc/exe" 2>/dev/null)" in
        "$bin/vigilo"* | "$bin/dorvan"* | "$bin/outlook-standin"*) kill -KILL "${proc#/proc/}" 2>/dev/null || true ;;
        esac
    done
}
cleanup() {
    stop_programs
    [ -z "$installed" ] || dpkg --purge kivara >/dev/null 2>&1 || true
    rm -rf "$tmp"
}
trap cleanup EXIT

if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null && ! dpkg-query -W kivara >/dev/null 2>&1; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$deb" >"$tmp/apt.log" 2>&1 ||
        { cat "$tmp/apt.log" >&2; fail "the package does not install"; }
    installed=1
    root=""
    echo "installed $(basename "$deb") into this machine"
else
    dpkg -x "$deb" "$tmp/root"
    root="$tmp/root"
    echo "unpacked $(basename "$deb") into a staging root"
fi
bin="$root/usr/bin"

export HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/config" XDG_DATA_HOME="$tmp/data" \
    XDG_RUNTIME_DIR="$tmp/run" TMPDIR="$tmp/tmp" QT_QPA_PLATFORM=offscreen \
    KIVARA_SHELL_DRYRUN=1 KIVARA_SHELL_LOG="$tmp/shell.log" KIVARA_PROMPT_LOG="$tmp/prompts.log"
mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR" "$TMPDIR" "$XDG_CONFIG_HOME/kivara/registry"
chmod 700 "$XDG_RUNTIME_DIR"
# What the user would type on the profile form; the network probe stays on loopback.
printf '[Software]\nBrindlewood\\Kivara\\Profile\\ChatName=Ann\n' \
    >"$XDG_CONFIG_HOME/kivara/registry/HKEY_CURRENT_USER.ini"
printf '[System]\nCurrentControlSet\\Services\\VxD\\MSTCP\\NameServer=127.0.0.1\n' \
    >"$XDG_CONFIG_HOME/kivara/registry/HKEY_LOCAL_MACHINE.ini"

# The monitor on a session bus of its own, in a process group the clean-up ends.
setsid dbus-run-session -- "$bin/vigilo" >"$tmp/monitor.log" 2>&1 &
group=$!

"$bin/kvwire" listen 127.0.0.1:8086 --count 1 --timeout 60 >"$tmp/answer" 2>/dev/null &
listener=$!
# Rung until it answers: the first start sets up before the port opens.
while kill -0 "$listener" 2>/dev/null; do
    "$bin/kvwire" send --from 127.0.0.1 127.0.0.1:8085 \
        "HELLO|Bob|Available|bob@example.org|127.0.0.1|hi|KV-BOB||1" 2>/dev/null || true
    sleep 1
done
wait "$listener" || fail "the installed monitor did not answer HELLO"
cat "$tmp/answer"
grep -q 'fields: HELLOWAIT | Ann$' "$tmp/answer" || fail "the answer to HELLO is not HELLOWAIT from Ann"

dir="$XDG_DATA_HOME/kivara/program/"
for f in trillo.wav pingoa1.wav quillon.htm kivara.svg; do
    [ -f "$dir$f" ] || fail "the first start did not copy $f"
done
[ "$(readlink "${dir}vigilo")" = "$bin/vigilo" ] || fail "the vigilo link does not lead to the installed monitor"
grep -q 'quillon.htm#' "$tmp/shell.log" || fail "the first start did not open the help page"

if command -v gio >/dev/null; then
    # The databases are refreshed by tools the set-up starts without waiting for them.
    printf 'x' >"$tmp/slip.kvp"
    type=""
    for _ in $(seq 50); do
        type=$(gio info -a standard::content-type "$tmp/slip.kvp" 2>/dev/null | sed -n 's/.*content-type: //p')
        [ "$type" = application/x-kivara-peerslip ] && break
        sleep 0.2
    done
    [ "$type" = application/x-kivara-peerslip ] || fail "a .kvp file's content type is '$type'"
    handler=""
    for _ in $(seq 50); do
        handler=$(gio mime application/x-kivara-peerslip 2>/dev/null | sed -n 's/^Default application.*: //p')
        [ "$handler" = kivara-vigilo.desktop ] && break
        sleep 0.2
    done
    [ "$handler" = kivara-vigilo.desktop ] || fail "the default handler of .kvp is '$handler'"
fi

stop_programs

if [ -n "$installed" ]; then
    files=$(dpkg-query -L kivara)
    dpkg --purge kivara >/dev/null
    installed=""
    for f in $files; do
        if [ -d "$f" ]; then
            case "$f" in *kivara*) fail "the folder $f is left after removal" ;; esac
        elif [ -e "$f" ] || [ -L "$f" ]; then
            fail "$f is left after removal"
        fi
    done
    echo "removed: none of its $(echo "$files" | wc -l) paths is left"
fi
echo "PASS"
