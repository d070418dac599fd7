"""Fixtures of the Python module's tests: the vrmsim executable on 127.0.0.1:0 for the whole session,
reached by the module through an INI file named by FCSDK_CONFIG, and a small client of its /_sim/
control endpoints.

ctest passes FCSDK_VRMSIM (the simulator executable) and puts the built module on PYTHONPATH."""

import http.client
import json
import os
import signal
import socket
import ssl
import subprocess
import time

import pytest

HOST_NAME = "vrm.local"
USER = "admin"
PASSWORD = "Sim@Passw0rd"
STARTUP_SECONDS = 30


class SimClient:
    """The simulator's control endpoints over TLS, verified against its CA."""

    def __init__(self, port, ca_file):
        self.port = port
        self.context = ssl.create_default_context(cafile=ca_file)
        self.info = self.call("GET", "info")
        self.site_urn = self.info["siteUrn"]
        self.site_uri = self.info["siteUri"]

    def call(self, method, path, body=None):
        sock = socket.create_connection(("127.0.0.1", self.port), timeout=30)
        connection = http.client.HTTPSConnection(HOST_NAME, self.port, context=self.context, timeout=30)
        connection.sock = self.context.wrap_socket(sock, server_hostname=HOST_NAME)
        try:
            payload = None if body is None else json.dumps(body)
            headers = {} if body is None else {"Content-Type": "application/json"}
            connection.request(method, "/_sim/" + path, body=payload, headers=headers)
            response = connection.getresponse()
            text = response.read().decode()
            if response.status != 200:
                raise AssertionError(f"{method} /_sim/{path}: {response.status} {text}")
            return json.loads(text)
        finally:
            connection.close()

    def reset(self):
        self.call("POST", "reset")
        # Tasks and backup resources end at their first poll: the library's pauses between polls are
        # real in this process, and no call here waits for one.
        self.call("PUT", "backup", {"taskPolls": 0, "resourcePolls": 0, "releaseReads": 0})

    def requests(self, path):
        return self.call("GET", "requests?path=" + path)["requests"]


@pytest.fixture(scope="session")
def sim(tmp_path_factory):
    executable = os.environ.get("FCSDK_VRMSIM")
    if not executable:
        pytest.fail("FCSDK_VRMSIM must name the vrmsim executable")
    work = tmp_path_factory.mktemp("vrmsim")
    port_file = work / "port"
    cert_dir = work / "certs"
    process = subprocess.Popen(
        [executable, "--listen", "127.0.0.1:0", "--port-file", str(port_file), "--cert-dir", str(cert_dir),
         "--host-name", HOST_NAME, "--user", USER, "--password", PASSWORD],
        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        deadline = time.monotonic() + STARTUP_SECONDS
        while not port_file.exists():
            if process.poll() is not None:
                pytest.fail("vrmsim exited: " + process.stderr.read().decode())
            if time.monotonic() > deadline:
                pytest.fail("vrmsim did not write its port file")
            time.sleep(0.02)
        port = int(port_file.read_text())
        ca_file = cert_dir / "ca.pem"
        config = work / "fcsdk.ini"
        config.write_text(f"[Transport]\nsConnectTo = {HOST_NAME}:7443:127.0.0.1:{port}\n"
                          f"sCAFile = {ca_file}\n")
        os.environ["FCSDK_CONFIG"] = str(config)
        yield SimClient(port, str(ca_file))
    finally:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout=STARTUP_SECONDS)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


@pytest.fixture
def vrm(sim):
    """The simulator, reset to its seeded inventory before the test."""
    sim.reset()
    return sim


@pytest.fixture
def connect(vrm):
    """Builds connected wrappers."""
    import fusioncompute

    def make():
        wrapper = fusioncompute.Wrapper()
        wrapper.connect(HOST_NAME, USER, PASSWORD)
        return wrapper

    return make
