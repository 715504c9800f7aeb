"""The skin website, for real, on this machine.

SkinSite runs tests/support/skin_server.py as the HTTPS server of the skin
site's two host names inside a private network namespace. In there the names
resolve to 127.0.0.1 (through /etc/netns/NAME/hosts) and a test CA is trusted
(through a copy of /etc/ssl at /etc/netns/NAME/ssl), which `ip netns exec`
bind-mounts over /etc. So the production helper, with the production domain,
downloads from a local server without a line of it changed.

Needs root and iproute2. SkinSite.unavailable() says why it cannot run, or
returns None.
"""

import itertools
import os
import shutil
import subprocess
import sys
import tempfile
import time

SUPPORT = os.path.dirname(os.path.abspath(__file__))
_counter = itertools.count()


def unavailable():
    """Why a namespace cannot be made here, or None when it can."""
    if os.geteuid() != 0:
        return "the network namespace needs root"
    if shutil.which("ip") is None:
        return "iproute2's ip command is missing"
    name = "velmora-probe-%d" % os.getpid()
    made = subprocess.run(["ip", "netns", "add", name], capture_output=True, text=True)
    if made.returncode != 0:
        return "ip netns add failed: " + made.stderr.strip()
    subprocess.run(["ip", "netns", "del", name], capture_output=True)
    return None


def make_test_ca(directory):
    """Creates (once) a test CA and a certificate for the site in `directory`."""
    subprocess.run(["bash", os.path.join(SUPPORT, "make_test_ca.sh"), directory], check=True,
                   stdout=subprocess.DEVNULL)
    return directory


class SkinSite:
    """A namespace in which `domain` and www.`domain` are a local HTTPS site."""

    def __init__(self, ca_dir, site_root, domain="velmora.app", log_file=None,
                 addresses=("127.0.0.1",), server=None):
        """`addresses`: what the site's names resolve to, in this order.
        `server`: the program serving it, run with skin_server.py's options
        --port, --cert, --key, --port-file (and --root, --log); skin_server.py
        by default."""
        self.addresses = addresses
        self.server_program = server or os.path.join(SUPPORT, "skin_server.py")
        self.ca_dir = ca_dir
        self.site_root = site_root
        self.domain = domain
        self.name = "velmora-%d-%d" % (os.getpid(), next(_counter))
        self.etc = "/etc/netns/" + self.name
        self.log_file = log_file or os.path.join(site_root, ".requests.log")
        self.server = None
        self.state = None

    def __enter__(self):
        try:
            self._create()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()

    def _create(self):
        subprocess.run(["ip", "netns", "add", self.name], check=True)
        subprocess.run(["ip", "-n", self.name, "link", "set", "lo", "up"], check=True)
        os.makedirs(self.etc)
        with open(os.path.join(self.etc, "hosts"), "w") as hosts:
            hosts.write("127.0.0.1 localhost\n::1 localhost\n")
            for address in self.addresses:
                hosts.write("%s %s www.%s\n" % (address, self.domain, self.domain))
        ssl_dir = os.path.join(self.etc, "ssl")
        shutil.copytree("/etc/ssl", ssl_dir, symlinks=True)
        ca = os.path.join(self.ca_dir, "ca.pem")
        shutil.copy(ca, os.path.join(ssl_dir, "certs", "velmora-test-ca.pem"))
        with open(ca) as src, open(os.path.join(ssl_dir, "certs", "ca-certificates.crt"), "a") as bundle:
            bundle.write(src.read())
        subprocess.run(["openssl", "rehash", os.path.join(ssl_dir, "certs")], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        # Not under /etc/netns/NAME: everything there is bind-mounted over /etc.
        self.state = tempfile.mkdtemp(prefix="velmora-site-state-")
        port_file = os.path.join(self.state, "port")
        open(self.log_file, "a").close()
        self.server = subprocess.Popen(
            ["ip", "netns", "exec", self.name, sys.executable, self.server_program,
             "--port", "443", "--cert", os.path.join(self.ca_dir, "server.pem"),
             "--key", os.path.join(self.ca_dir, "server.key"), "--root", self.site_root,
             "--log", self.log_file, "--port-file", port_file])
        deadline = time.monotonic() + 10
        while not os.path.exists(port_file):
            if self.server.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("the skin site's server did not start")
            time.sleep(0.02)

    def close(self):
        if self.server is not None:
            self.server.terminate()
            try:
                self.server.wait(5)
            except subprocess.TimeoutExpired:
                self.server.kill()
                self.server.wait()
            self.server = None
        subprocess.run(["ip", "netns", "del", self.name], capture_output=True)
        shutil.rmtree(self.etc, ignore_errors=True)
        if self.state:
            shutil.rmtree(self.state, ignore_errors=True)

    def command(self, argv):
        """`argv` prefixed so that it runs inside the namespace."""
        return ["ip", "netns", "exec", self.name] + list(argv)

    def run(self, argv, **kwargs):
        """subprocess.run of `argv` inside the namespace."""
        return subprocess.run(self.command(argv), **kwargs)

    def requests(self):
        """The requests the server has received so far, one "METHOD TARGET" each."""
        with open(self.log_file) as log:
            return [line.rstrip("\n") for line in log if line.strip()]
