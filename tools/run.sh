#!/bin/bash
# Builds the daemon and runs it the safe way: inside a network namespace of its own (loopback
# only), on a private system bus, with all its state in build/run/. Prints where the settings
# went and what they hold, then stops the daemon with SIGTERM, as systemd would.
#
#   tools/run.sh          run, show the settings, stop
#   tools/run.sh --keep   leave the daemon running until Ctrl-C
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${KC_BUILD_DIR:-$root/build}"
keep=no
case "${1:-}" in
    "") ;;
    --keep) keep=yes ;;
    *) echo "usage: $0 [--keep]" >&2; exit 2 ;;
esac
if [ "$(id -u)" -ne 0 ]; then
    echo "$0 needs root: the daemon runs in a network namespace of its own" >&2
    exit 1
fi

"$root/tools/setup.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKC_WERROR=ON >/dev/null
cmake --build "$build" --target kcdaemon

run="$build/run"
state="$run/state"
bus_socket="$run/system_bus_socket"
mkdir -p "$run"
netns="kc-run-$$-$(od -An -N4 -tx4 /dev/urandom | tr -d ' ')"
bus_pid=""
daemon_pid=""

cleanup() {
    if [ -n "$daemon_pid" ] && kill -0 "$daemon_pid" 2>/dev/null; then
        kill -TERM "$daemon_pid" 2>/dev/null || true
        wait "$daemon_pid" 2>/dev/null || true
    fi
    if [ -n "$bus_pid" ]; then
        kill "$bus_pid" 2>/dev/null || true
        wait "$bus_pid" 2>/dev/null || true
    fi
    ip netns delete "$netns" 2>/dev/null || true
    rm -f "$bus_socket"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

ip netns add "$netns"
ip -n "$netns" link set lo up

cat > "$run/daemon.conf" <<CONF
[Service]
BaseURL=https://accounts.kovra.invalid/app/6.0
[Daemon]
StateDirectory=$state
CONF

# A system bus of the run's own, with the policy the daemon ships: the machine's bus is never
# touched.
cat > "$run/system-bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <deny own="*"/>
    <deny send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_requested_reply="true" send_type="method_return"/>
    <allow send_requested_reply="true" send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
    <allow receive_type="signal"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus.Introspectable"/>
  </policy>
  <include>$build/packaging/dbus-1/system.d/com.fendrel.kovra.connect.conf</include>
</busconfig>
CONF
rm -f "$bus_socket"
dbus-daemon --config-file="$run/system-bus.conf" --nofork &
bus_pid=$!
for _ in $(seq 1 300); do
    [ -S "$bus_socket" ] && break
    kill -0 "$bus_pid" 2>/dev/null || { echo "the private bus did not start" >&2; exit 1; }
    sleep 0.1
done
[ -S "$bus_socket" ] || { echo "the private bus did not start" >&2; exit 1; }

echo "Starting the daemon in network namespace $netns (loopback only)"
: > "$run/daemon.log"
DBUS_SYSTEM_BUS_ADDRESS="unix:path=$bus_socket" \
    ip netns exec "$netns" "$build/daemon/com.fendrel.kovra.connect" --config "$run/daemon.conf" \
    2> >(tee -a "$run/daemon.log" >&2) &
daemon_pid=$!

# The daemon logs the accounts it found once its settings are written.
for _ in $(seq 1 300); do
    grep -q "accounts found" "$run/daemon.log" && break
    kill -0 "$daemon_pid" 2>/dev/null || { echo "the daemon ended early; see $run/daemon.log" >&2; exit 1; }
    sleep 0.1
done
grep -q "accounts found" "$run/daemon.log" || { echo "the daemon did not start; see $run/daemon.log" >&2; exit 1; }

echo
echo "Settings: $state/com.fendrel.kovra.connect.json"
ls -ld "$state"
ls -l "$state"
echo
cat "$state/com.fendrel.kovra.connect.json"
echo

if [ "$keep" = yes ]; then
    echo "The daemon runs on; Ctrl-C stops it."
    wait "$daemon_pid"
else
    kill -TERM "$daemon_pid"
    status=0
    wait "$daemon_pid" || status=$?
    daemon_pid=""
    echo "The daemon ended with status $status after SIGTERM."
fi
