"""The Python module against vrmsim over real TLS: inventory with details, a full and an incremental
backup with exact extents, VRM errors as exceptions, and wrappers on two threads at once."""

import ast
import os
import signal
import subprocess
import sys
import threading
import time

import pytest

import fusioncompute as fc
from conftest import HOST_NAME, PASSWORD, USER

JOIN_SECONDS = 120


def volume_number(urn):
    return urn.rsplit(":", 1)[1]


def backup(wrapper, vm, tokens):
    """One backup of `vm`: a change-tracking snapshot, then per disk the blocks to copy (all allocated
    blocks without a token, else the changed ones) and an opened and closed disk access. Returns the new
    tokens and the extents per volume URN."""
    snapshot = wrapper.create_vm_snapshot(vm, "py-backup", "by the Python tests", is_consistent=True,
                                          for_backup=True, use_cbt=True)
    extents, new_tokens = {}, {}
    for disk in vm.disks:
        new_tokens[disk.urn] = wrapper.get_disk_change_token(disk.urn, snapshot.urn)
        if disk.urn in tokens:
            blocks = wrapper.query_disk_changed_blocks(disk.urn, snapshot.urn, tokens[disk.urn])
        else:
            blocks = wrapper.query_disk_allocated_blocks(disk.urn, snapshot.urn)
        extents[disk.urn] = fc.changed_extents(blocks)
        resource, host_ip, _, token, target = wrapper.prepare_disk_access(disk.urn, snapshot.urn, "127.0.0.1")
        assert host_ip and token and target
        wrapper.release_disk_access(resource)
    wrapper.delete_vm_snapshot(vm, snapshot)
    return new_tokens, extents


def write_blocks(vrm, disk, runs):
    vrm.call("POST", f"volumes/{volume_number(disk.urn)}/write",
             {"blocks": [{"start": start, "count": count} for start, count in runs]})


def test_connect_and_list_with_details(connect, vrm):
    wrapper = connect()
    assert wrapper.get_management_version_number() == 63
    assert wrapper.get_management_version_info().version == "v6.3"
    assert wrapper.get_site().urn == vrm.site_urn

    vms = wrapper.get_vm_info_list(fc.VmProp.VM_DISK_LIST | fc.VmProp.VM_SNAPSHOT_LIST)
    assert len(vms) == vrm.info["counts"]["vms"] + vrm.info["counts"]["templates"]
    vm = next(v for v in vms if v.name == "vm-0001")
    assert [d.name for d in vm.disks] == ["vm-0001-disk1", "vm-0001-disk2"]
    assert len(vm.snapshots) == 3 and all(len(s.volsnapshots) == 2 for s in vm.snapshots)
    assert "VMInfo(name='vm-0001'" in repr(vm) and "disks=[2 DiskInfo]" in repr(vm)

    # A record passed to a Fill call is completed in place and handed back.
    bare = wrapper.get_vm_info(name="vm-0001")
    assert bare.snapshots == []
    assert wrapper.fill_vm_info_details(bare, fc.VM_PROP_VM_SNAPSHOT_LIST) is bare
    assert [s.urn for s in bare.snapshots] == [s.urn for s in vm.snapshots]

    site = wrapper.get_site_info(urn=vrm.site_urn, flags=fc.VmProp.DATACENTER_CLUSTER_LIST
                                 | fc.VmProp.CLUSTER_HOST_LIST | fc.VmProp.HOST_VM_LIST)
    hosts = [h for c in site.clusters for h in c.hosts]
    assert len(site.clusters) == vrm.info["counts"]["clusters"]
    assert len(hosts) == vrm.info["counts"]["hosts"]
    assert sum(len(h.vms) for h in hosts) == vrm.info["counts"]["vms"]  # templates run on no host

    clusters = wrapper.get_cluster_info_list()
    assert wrapper.fill_cluster_info_list_details(clusters, fc.VM_PROP_CLUSTER_VM_LIST) is clusters
    assert sum(len(c.vms) for c in clusters) == len(vms)


def test_full_then_incremental_backup_reports_exact_extents(connect, vrm, monkeypatch):
    wrapper = connect()
    vm = wrapper.get_vm_info(name="vm-0004", flags=fc.VM_PROP_VM_DISK_LIST)
    first, second = vm.disks

    # The waits are reported from the thread that runs the call; a callback that raises does not end them
    # and its exception goes to sys.unraisablehook.
    reports, unraisable = [], []
    monkeypatch.setattr(sys, "unraisablehook", unraisable.append)

    def report(progress):
        reports.append(progress)
        raise RuntimeError("ignored")

    wrapper.set_progress_callback(report)
    tokens, full = backup(wrapper, vm, {})
    wrapper.set_progress_callback(None)
    assert reports and all(isinstance(r, fc.WaitProgress) for r in reports)
    assert reports[-1].status == "success" and reports[-1].progress == 100
    assert any(r.progress == -1 for r in reports)  # the disk accesses: resources report no percentage
    assert len(unraisable) == len(reports) and isinstance(unraisable[0].exc_value, RuntimeError)
    for disk in vm.disks:
        # The full backup copies what the disk had allocated before tracking began: its used space from
        # block 0 on.
        cbt = vrm.call("GET", f"volumes/{volume_number(disk.urn)}/cbt")
        assert full[disk.urn] == [(0, cbt["allocatedBeforeTracking"])]
    assert wrapper.parse_disk_change_token(tokens[first.urn])[0]

    write_blocks(vrm, first, [(7, 2), (9, 1), (100000, 3)])
    write_blocks(vrm, second, [(8, 1), (15, 1)])
    _, incremental = backup(wrapper, vm, tokens)
    assert incremental == {first.urn: [(7, 3), (100000, 3)], second.urn: [(8, 1), (15, 1)]}

    # Nothing written since: the next incremental backup has nothing to copy.
    tokens, _ = backup(wrapper, vm, tokens)
    _, empty = backup(wrapper, vm, tokens)
    assert empty == {first.urn: [], second.urn: []}


def test_vrm_errors_become_exceptions_with_the_vrm_code(connect, vrm):
    refused = fc.Wrapper()
    with pytest.raises(fc.Error) as caught:
        refused.connect(HOST_NAME, USER, "wrong password")
    assert caught.value.code == 10000040
    assert "Login" in caught.value.message

    # Per-wrapper settings override the configuration file's: a CA that does not sign the simulator's
    # certificate makes the connection fail; an impossible port is refused before anything is sent.
    untrusting = fc.Wrapper()
    untrusting.set_connection_options(ca_file="/etc/ssl/certs/ca-certificates.crt", connect_timeout_seconds=5)
    with pytest.raises(fc.Error, match="(?i)certificate"):
        untrusting.connect(HOST_NAME, USER, PASSWORD)
    with pytest.raises(fc.Error, match="Invalid port 70000"):
        untrusting.set_connection_options(port=70000)

    wrapper = connect()
    vrm.call("POST", "faults", {"kind": "status", "method": "GET", "path": vrm.site_uri + "/vms",
                                "status": 500, "errorCode": "10300099",
                                "errorDes": "The VM list is not available."})
    with pytest.raises(fc.Error) as caught:
        wrapper.get_vm_info_list()
    assert (caught.value.message, caught.value.code) == ("The VM list is not available.", 10300099)
    assert str(caught.value) == "The VM list is not available. (VRM error 10300099)"
    assert wrapper.get_last_error_code() == 10300099

    vm = wrapper.get_vm_info(name="vm-0004")
    vrm.call("POST", "faults", {"kind": "status", "method": "POST", "path": vm.uri + "/snapshots",
                                "status": 409, "errorCode": "10300025",
                                "errorDes": "A snapshot task is running."})
    with pytest.raises(fc.Error) as caught:
        wrapper.create_vm_snapshot(vm, "busy", for_backup=True, use_cbt=True)
    assert caught.value.code == 10300025 and wrapper.is_create_vm_snapshot_error_retryable()

    with pytest.raises(ValueError):
        fc.changed_extents(("ffzz", 128))


def test_two_threads_each_with_its_own_wrapper_at_once(connect, vrm):
    # Thread A's host list stalls on the simulator until the test wakes it. Thread B meanwhile connects
    # and runs a whole backup: that can only happen while A waits inside the library without the GIL.
    vrm.call("POST", "faults", {"kind": "stall", "method": "GET", "path": vrm.site_uri + "/hosts",
                                "ms": 60000})
    stalled = connect()
    outcome = {}

    def list_hosts():
        try:
            outcome["a"] = stalled.get_host_info_list()
        except fc.Error as error:
            outcome["a"] = error

    def run_backup():
        wrapper = connect()
        vm = wrapper.get_vm_info(name="vm-0005", flags=fc.VM_PROP_VM_DISK_LIST)
        outcome["b"] = backup(wrapper, vm, {})[1]

    a = threading.Thread(target=list_hosts)
    a.start()
    b = threading.Thread(target=run_backup)
    b.start()
    b.join(JOIN_SECONDS)
    assert not b.is_alive() and len(outcome["b"]) == 2
    assert a.is_alive(), "the stalled call should still be waiting"
    vrm.call("POST", "reset")  # wakes the stalled answer: its connection closes without a body
    a.join(JOIN_SECONDS)
    assert isinstance(outcome["a"], fc.Error)


def test_a_signal_handler_cancels_the_call_the_main_thread_waits_in(connect, vrm):
    # The call stalls on the simulator; a signal sent meanwhile reaches its handler while the call waits,
    # and the handler's cancel() ends the call.
    vrm.call("POST", "faults", {"kind": "stall", "method": "GET", "path": vrm.site_uri + "/hosts",
                                "ms": 60000})
    wrapper = connect()
    handled = []

    def handler(signum, frame):
        handled.append(signum)
        wrapper.cancel()

    def signal_once_stalled():
        deadline = time.monotonic() + JOIN_SECONDS
        while not vrm.requests(vrm.site_uri + "/hosts") and time.monotonic() < deadline:
            time.sleep(0.01)
        os.kill(os.getpid(), signal.SIGUSR1)

    previous = signal.signal(signal.SIGUSR1, handler)
    sender = threading.Thread(target=signal_once_stalled)
    try:
        sender.start()
        with pytest.raises(fc.Error) as caught:
            wrapper.get_host_info_list()
    finally:
        sender.join(JOIN_SECONDS)
        signal.signal(signal.SIGUSR1, previous)
        vrm.call("POST", "reset")
    assert handled == [signal.SIGUSR1]
    assert caught.value.message == "Cancelled"

    # The session goes on; after logout() the wrapper is unconnected.
    assert wrapper.get_host_info_list()
    wrapper.logout()
    with pytest.raises(fc.Error, match="Not connected"):
        wrapper.get_host_info_list()


def test_stubs_name_every_binding():
    # Editors complete from the stubs: every public class, method and field must be in them.
    stub_path = os.path.join(os.path.dirname(fc.__file__), "fusioncompute.pyi")
    with open(stub_path) as stub_file:
        tree = ast.parse(stub_file.read())
    stubbed = {}
    for node in tree.body:
        if isinstance(node, ast.ClassDef):
            stubbed[node.name] = {n.target.id if isinstance(n, ast.AnnAssign) else n.name
                                  for n in node.body if isinstance(n, (ast.AnnAssign, ast.FunctionDef))}
        elif isinstance(node, ast.FunctionDef):
            stubbed[node.name] = set()
        elif isinstance(node, ast.AnnAssign):
            stubbed[node.target.id] = set()
    for name in (n for n in dir(fc) if not n.startswith("_")):
        assert name in stubbed, name
        value = getattr(fc, name)
        if isinstance(value, type) and value is not fc.Error and value is not fc.VmProp:
            members = {m for m in vars(value) if not m.startswith("_")} | set(getattr(value, "_fields", ()))
            assert members <= stubbed[name], (name, members - stubbed[name])


def test_example_backup_prints_the_changed_extents(vrm):
    example = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "python", "backup.py")
    result = subprocess.run([sys.executable, example, "--host", HOST_NAME, "--user", USER, "--vm", "vm-0004",
                             "--simulate-writes"], env=dict(os.environ, FUSIONCOMPUTE_PASSWORD=PASSWORD),
                            capture_output=True, text=True, timeout=JOIN_SECONDS)
    assert result.returncode == 0, result.stdout + result.stderr
    incremental = result.stdout.split("incremental backup of vm-0004")[1]
    assert incremental.count(": 2 extents, 4 blocks of 65536 bytes") == 2, result.stdout
    assert incremental.count("blocks 7..9") == 2 and incremental.count("blocks 4096..4096") == 2
