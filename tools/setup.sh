#!/bin/sh
# Installs, from Debian's packages, everything the build, the tests and the router lab need.
# Safe to run again: packages already present are left as they are. Needs root (or sudo).
set -eu

packages="
cmake ninja-build g++ clang pkg-config git
qt6-base-dev qt6-base-dev-tools qt6-httpserver-dev qt6-websockets-dev
libminiupnpc-dev libspdlog-dev libfmt-dev
googletest libgtest-dev libgmock-dev
dbus-daemon dbus-bin polkitd pkexec
miniupnpd-nftables nftables iproute2 procps openssl miniupnpc natpmpc
systemd
libclang-rt-14-dev
"

missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

export DEBIAN_FRONTEND=noninteractive
# The router package must never start a router on this machine's own network: the lab starts
# its own instances inside network namespaces.
echo "miniupnpd miniupnpd/start_daemon boolean false" | $SUDO debconf-set-selections
echo "miniupnpd miniupnpd/ip6script boolean false" | $SUDO debconf-set-selections
policy=/usr/sbin/policy-rc.d
created_policy=no
if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$policy" >/dev/null
    $SUDO chmod 755 "$policy"
    created_policy=yes
fi
trap '[ "$created_policy" = yes ] && $SUDO rm -f "$policy"' EXIT

$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing
