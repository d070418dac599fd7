#!/usr/bin/env bash
# The demo: builds the project, starts vrmsim (the VRM simulator) on loopback with a seeded inventory,
# and drives it through the library with fcctl: versions, site, VMs with their disks, snapshots and
# switches, then a full and an incremental backup, and a restore from an OVF descriptor.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${FCSDK_JOBS:-$(nproc)}

say() { printf '\n\033[1m== %s ==\033[0m\n' "$*"; }
run() { printf '\033[2m$ %s\033[0m\n' "$*"; "$@"; }

if [ "${FCSDK_SKIP_INSTALL:-0}" != 1 ]; then
    bash scripts/install-deps.sh
fi
say "Building"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs" --target vrmsim fcctl fcsdk_connect_example

work=$(mktemp -d)
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

say "Starting vrmsim on loopback"
password="Demo-$(head -c 6 /dev/urandom | od -An -tx1 | tr -d ' \n')"
build/tools/vrmsim/vrmsim --listen 127.0.0.1:0 --port-file "$work/port" --cert-dir "$work/certs" \
    --user admin --password "$password" --vms 12 --hosts 3 --clusters 2 >"$work/vrmsim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
[ -s "$work/port" ] || { echo "vrmsim did not start:"; cat "$work/vrmsim.log"; exit 1; }
port=$(cat "$work/port")
echo "vrmsim listens on 127.0.0.1:$port with a certificate for vrm.local signed by $work/certs/ca.pem"

# The library reaches vrm.local:7443 through the simulator's port, with TLS verification on.
cat >"$work/fcsdk.ini" <<INI
[Transport]
sConnectTo = vrm.local:7443:127.0.0.1:$port
sCAFile = $work/certs/ca.pem
INI
export FCSDK_CONFIG="$work/fcsdk.ini"
export FCCTL_PASSWORD="$password"
fcctl() { run build/tools/fcctl/fcctl --host vrm.local --user admin "$@"; }

sim() {  # talks to vrmsim's /_sim/ control endpoints (not part of the VRM's API)
    curl -sS --fail --cacert "$work/certs/ca.pem" --connect-to "vrm.local:7443:127.0.0.1:$port" \
        -X "$1" "https://vrm.local:7443/_sim/$2" ${3:+-H 'Content-Type: application/json' -d "$3"}
    echo
}

say "Connecting with the example program (versions, login, site)"
run build/examples/fcsdk_connect_example vrm.local admin

say "Versions and site"
fcctl versions
fcctl site list --details site-clusters

say "VMs with their disks, snapshots and switch names"
fcctl vm list --details disks,snapshots,nics
fcctl vm show vm-0001 --details disks,snapshots,nics

say "Full backup of vm-0001 (snapshot with changed-block tracking, allocated blocks, disk access)"
# Let the simulated VRM finish its tasks at the first poll so the demo does not wait 5 s per task.
sim PUT backup '{"taskPolls": 0, "resourcePolls": 0}' >/dev/null
fcctl backup vm-0001 --state "$work/vm-0001.state"

say "The guest writes blocks 100-115 and 5000 of its first disk"
sim POST volumes/1/write '{"blocks": [{"start": 100, "count": 16}, {"start": 5000, "count": 1}]}'

say "Incremental backup: exactly the written blocks come back"
fcctl backup vm-0001 --state "$work/vm-0001.state"

say "Restore: export the descriptors, delete the VM, create it again from the OVF descriptor"
fcctl vm export-ovf vm-0001 --out "$work/vm-0001.ovf"
fcctl vm export-json vm-0001 --out "$work/vm-0001.json"
fcctl vm stop vm-0001
fcctl vm delete vm-0001
fcctl vm import-ovf --ovf "$work/vm-0001.ovf" --like "$work/vm-0001.json" --name vm-0001
fcctl vm reconnect-nics vm-0001 --descriptor "$work/vm-0001.json"
fcctl vm show vm-0001 --details disks,nics

say "Done"
