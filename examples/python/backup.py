#!/usr/bin/env python3
"""A full then an incremental backup of one VM, printing per disk the extents a backup would copy.

Each backup takes a snapshot with changed-block tracking, reads per disk its change token and the
blocks to copy (every allocated block the first time, then the blocks changed since the token),
opens and closes access to the disk's data (where a real product would read the extents), and
deletes the snapshot. No data is copied.

    FCSDK_CONFIG=fcsdk.ini FUSIONCOMPUTE_PASSWORD=... \\
        python3 examples/python/backup.py --host vrm.local --user admin --vm vm-0004 --simulate-writes

--simulate-writes is for vrmsim only: between the two backups it marks a few blocks of every disk
written through the simulator's control endpoint, found through the Transport keys of FCSDK_CONFIG.
"""

import argparse
import configparser
import getpass
import http.client
import json
import os
import socket
import ssl
import sys

import fusioncompute as fc

SECTOR_BYTES = 512


def print_extents(disk, bitmap_result):
    _, sector_of_block = bitmap_result
    block_bytes = sector_of_block * SECTOR_BYTES
    extents = fc.changed_extents(bitmap_result)
    blocks = sum(count for _, count in extents)
    print(f"  {disk.name} ({disk.urn}): {len(extents)} extents, {blocks} blocks of {block_bytes} bytes")
    for start, count in extents:
        print(f"    offset {start * block_bytes:>14}  length {count * block_bytes:>12}"
              f"  blocks {start}..{start + count - 1}")


def back_up(wrapper, vm, tokens, client_ip):
    """One backup of `vm`; `tokens` maps volume URNs to the change tokens of the previous backup and is
    replaced by the new ones."""
    kind = "incremental" if tokens else "full"
    snapshot = wrapper.create_vm_snapshot(vm, f"python-{kind}-backup", "examples/python/backup.py",
                                          is_consistent=False, for_backup=True, use_cbt=True)
    print(f"{kind} backup of {vm.name}, snapshot {snapshot.urn}")
    try:
        new_tokens = {}
        for disk in vm.disks:
            new_tokens[disk.urn] = wrapper.get_disk_change_token(disk.urn, snapshot.urn)
            if disk.urn in tokens:
                blocks = wrapper.query_disk_changed_blocks(disk.urn, snapshot.urn, tokens[disk.urn])
            else:
                blocks = wrapper.query_disk_allocated_blocks(disk.urn, snapshot.urn)
            print_extents(disk, blocks)
            resource, host, port, _token, target = wrapper.prepare_disk_access(disk.urn, snapshot.urn,
                                                                                client_ip)
            try:
                print(f"    data at {host}:{port} {target}")
            finally:
                wrapper.release_disk_access(resource)
    finally:
        wrapper.delete_vm_snapshot(vm, snapshot)
    tokens.clear()
    tokens.update(new_tokens)


def simulate_writes(vm):
    """Marks blocks 7..9 and 4096 of every disk written on vrmsim (its /_sim/ endpoint, not the VRM API)."""
    config = configparser.ConfigParser()
    config.read(os.environ["FCSDK_CONFIG"])
    host, _, address, port = config["Transport"]["sConnectTo"].split(":")
    context = ssl.create_default_context(cafile=config["Transport"]["sCAFile"])
    for disk in vm.disks:
        connection = http.client.HTTPSConnection(host, int(port), context=context, timeout=30)
        connection.sock = context.wrap_socket(socket.create_connection((address, int(port)), timeout=30),
                                              server_hostname=host)
        body = json.dumps({"blocks": [{"start": 7, "count": 3}, {"start": 4096, "count": 1}]})
        connection.request("POST", f"/_sim/volumes/{disk.urn.rsplit(':', 1)[1]}/write", body,
                           {"Content-Type": "application/json"})
        response = connection.getresponse()
        response.read()
        connection.close()
        if response.status != 200:
            raise RuntimeError(f"vrmsim refused the write to {disk.name}: {response.status}")
    print(f"marked blocks 7..9 and 4096 of {len(vm.disks)} disks written")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--host", required=True, help="VRM host name")
    parser.add_argument("--user", required=True, help="VRM user")
    parser.add_argument("--vm", required=True, help="name of the VM to back up")
    parser.add_argument("--ip", default="127.0.0.1", help="address the disk data would be read from")
    parser.add_argument("--simulate-writes", action="store_true",
                        help="vrmsim only: write blocks between the two backups")
    args = parser.parse_args()
    password = os.environ.get("FUSIONCOMPUTE_PASSWORD") or getpass.getpass(f"password of {args.user}: ")

    wrapper = fc.Wrapper()
    try:
        wrapper.connect(args.host, args.user, password)
        vm = wrapper.get_vm_info(name=args.vm, flags=fc.VmProp.VM_DISK_LIST)
        tokens = {}
        back_up(wrapper, vm, tokens, args.ip)
        if args.simulate_writes:
            simulate_writes(vm)
        back_up(wrapper, vm, tokens, args.ip)
    except fc.Error as error:
        print(f"backup.py: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
