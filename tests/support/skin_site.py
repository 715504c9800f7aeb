"""The skin website, for real, on this machine.

SkinSite runs tests/support/skin_server.py as the HTTPS server of the skin
site's two host names inside a private network and mount namespace
(Namespace). In there the names resolve to 127.0.0.1 (a hosts file
bind-mounted over /etc/hosts) and a test CA is trusted (a copy of
/etc/ssl/certs with the CA added, bind-mounted over /etc/ssl/certs). So the
production helper, with the production domain, downloads from a local server
without a line of it changed.

The namespaces belong to user namespaces that the calling user creates, so
no root is needed, only a kernel that lets users create them, util-linux's
unshare and nsenter, and iproute2. unavailable() says why they cannot be made
here, or returns None.
"""

import itertools
import os
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SUPPORT = os.path.dirname(os.path.abspath(__file__))
_counter = itertools.count()


def unavailable():
    """Why a namespace cannot be made here, or None when it can."""
    for tool, package in (("unshare", "util-linux"), ("nsenter", "util-linux"), ("ip", "iproute2")):
        if shutil.which(tool) is None:
            return "%s's %s command is missing" % (package, tool)
    try:
        Namespace().close()
    except RuntimeError as error:
        return str(error)
    return None


def make_test_ca(directory):
    """Creates (once) a test CA and a certificate for the site in `directory`."""
    subprocess.run(["bash", os.path.join(SUPPORT, "make_test_ca.sh"), directory], check=True,
                   stdout=subprocess.DEVNULL)
    return directory


class Namespace:
    """A private network namespace (only a loopback interface, up) and mount
    namespace, held open by a process that sleeps in it.

    Two user namespaces own them. The outer one maps the calling user to
    itself: command() runs a program in there as that user, with that
    user's rights (no capability unless it is root), as on a desktop. The inner one, which owns
    the network and mount namespaces, maps the same user to root:
    privileged() runs a program as that root, who may mount and configure
    the network in these namespaces and nowhere else. `setup`: shell commands
    run as that root before the namespace counts as made."""

    # The outer shell stays in the outer user namespace, so that commands can
    # join it; the inner one prints its process id once set up, then sleeps.
    _HOLD = 'unshare --user --map-root-user --net --mount sh -c "$0" & wait'

    def __init__(self, setup=()):
        # Only the process id goes to standard output.
        script = "{ %s; } >&2 && echo $$ && exec sleep infinity" % " && ".join(["ip link set lo up"] + list(setup))
        self.holder = subprocess.Popen(["unshare", "--user", "--map-current-user", "sh", "-c", self._HOLD, script],
                                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                       text=True, start_new_session=True)
        line = self.holder.stdout.readline()
        if not line.strip().isdigit():
            self.holder.wait()
            raise RuntimeError("a user, network and mount namespace could not be made: "
                               + (self.holder.stderr.read().strip() or "unshare failed"))
        self.inner = int(line)

    def _enter(self, user):
        # --wd=. keeps the caller's working directory, which joining a mount
        # namespace would otherwise change to its root.
        return ["nsenter", "--target", str(self.inner), "--net", "--mount", "--user=" + user,
                "--preserve-credentials", "--wd=.", "--"]

    def command(self, argv):
        """`argv` prefixed so that it runs inside the namespace as the user."""
        return self._enter("/proc/%d/ns/user" % self.holder.pid) + list(argv)

    def privileged(self, argv):
        """`argv` prefixed so that it runs inside the namespace as its root."""
        return self._enter("/proc/%d/ns/user" % self.inner) + list(argv)

    def run(self, argv, privileged=False, **kwargs):
        """subprocess.run of `argv` inside the namespace."""
        return subprocess.run(self.privileged(argv) if privileged else self.command(argv), **kwargs)

    def close(self):
        if self.holder is None:
            return
        if self.holder.poll() is None:
            os.killpg(self.holder.pid, signal.SIGKILL)
        self.holder.wait()
        self.holder.stdout.close()
        self.holder.stderr.close()
        self.holder = None


class SkinSite:
    """A namespace in which `domain` and www.`domain` are a local HTTPS site."""

    def __init__(self, ca_dir, site_root, domain="velmora.app", log_file=None,
                 addresses=("127.0.0.1",), server=None, setup=()):
        """`addresses`: what the site's names resolve to, in this order.
        `server`: the program serving it, run with skin_server.py's options
        --port, --cert, --key, --port-file (and --root, --log); skin_server.py
        by default. `setup`: more shell commands for Namespace."""
        self.addresses = addresses
        self.server_program = server or os.path.join(SUPPORT, "skin_server.py")
        self.ca_dir = ca_dir
        self.site_root = site_root
        self.domain = domain
        self.setup = list(setup)
        self.log_file = log_file or os.path.join(site_root, ".requests.log")
        self.namespace = None
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
        self.state = tempfile.mkdtemp(prefix="velmora-site-state-")
        hosts = os.path.join(self.state, "hosts")
        with open(hosts, "w") as out:
            out.write("127.0.0.1 localhost\n::1 localhost\n")
            for address in self.addresses:
                out.write("%s %s www.%s\n" % (address, self.domain, self.domain))
        # libcurl reads the bundle ca-certificates.crt and the hashed
        # directory, both in /etc/ssl/certs.
        certs = os.path.join(self.state, "certs")
        shutil.copytree("/etc/ssl/certs", certs, symlinks=True)
        ca = os.path.join(self.ca_dir, "ca.pem")
        shutil.copy(ca, os.path.join(certs, "velmora-test-ca.pem"))
        with open(ca) as src, open(os.path.join(certs, "ca-certificates.crt"), "a") as bundle:
            bundle.write(src.read())
        subprocess.run(["openssl", "rehash", certs], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.namespace = Namespace(["mount --bind %s /etc/hosts" % shlex.quote(hosts),
                                    "mount --bind %s /etc/ssl/certs" % shlex.quote(certs)] + self.setup)

        port_file = os.path.join(self.state, "port")
        open(self.log_file, "a").close()
        # As the namespace's root: port 443 is privileged.
        self.server = subprocess.Popen(self.namespace.privileged(
            [sys.executable, self.server_program,
             "--port", "443", "--cert", os.path.join(self.ca_dir, "server.pem"),
             "--key", os.path.join(self.ca_dir, "server.key"), "--root", self.site_root,
             "--log", self.log_file, "--port-file", port_file]))
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
        if self.namespace is not None:
            self.namespace.close()
            self.namespace = None
        if self.state:
            shutil.rmtree(self.state, ignore_errors=True)
            self.state = None

    def command(self, argv):
        """`argv` prefixed so that it runs inside the namespace as the user."""
        return self.namespace.command(argv)

    def run(self, argv, **kwargs):
        """Namespace.run of `argv`."""
        return self.namespace.run(argv, **kwargs)

    def requests(self):
        """The requests the server has received so far, one "METHOD TARGET" each."""
        with open(self.log_file) as log:
            return [line.rstrip("\n") for line in log if line.strip()]
