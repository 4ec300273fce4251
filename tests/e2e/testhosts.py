"""Test hosts for end-to-end runs of the real `morvex` service.

A TestNetwork is N network namespaces ("hosts"), each with loopback and one
veth interface in a private /24, all plugged into one bridge that lives in a
namespace of its own.  Nothing is created in the machine's own namespace, so
the service's UDP broadcasts never leave the test network.

    with TestNetwork(2) as net:
        a, b = net.hosts
        net.start_service(a, "secret", "alpha")
        status, out, err = net.run(a, net.ctl_path, "-m", a.metadir, "id", "--json")

`scenario(label)` brackets one test on a shared network: services started in
it are stopped when it ends, and when it ends with an exception the logs of
every host are copied to a folder whose name is added to the failure message.

Python 3 standard library only.  Needs root and iproute2 (`ip`); `skip_reason()`
says why the harness cannot run here.
"""

import atexit
import contextlib
import glob
import itertools
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
BIN_DIR = os.path.abspath(os.environ.get("MORVEX_BIN_DIR") or os.path.join(HERE, "..", "..", "build", "bin"))
LOG_ROOT = os.environ.get("MORVEX_E2E_LOGS") or "/tmp/morvex-e2e-logs-%d" % os.getpid()

RUNNING_LINE = "Morvex is running"
START_TIMEOUT = 15.0   # first start: key generation, database, workers
STOP_TIMEOUT = 5.0     # SIGTERM to exit
CMD_TIMEOUT = 10.0     # one command run in a host; the client itself gives up after 5 s

_network_ids = itertools.count()


def skip_reason():
    """Why the end-to-end tests cannot run on this machine, or None."""
    if not sys.platform.startswith("linux"):
        return "needs Linux network namespaces"
    if os.geteuid() != 0:
        return "needs root for network namespaces"
    if shutil.which("ip") is None:
        return "needs iproute2 (`ip`)"
    return None


def wait_until(predicate, timeout, interval=0.2, what=None):
    """Calls predicate() until it returns something truthy, and returns that.

    Exceptions raised by the predicate count as "not yet".  After `timeout`
    seconds raises AssertionError naming `what` and the last value or error.
    """
    deadline = time.monotonic() + timeout
    last = None
    while True:
        try:
            last = predicate()
            if last:
                return last
        except Exception as exc:  # the service may not be ready yet
            last = exc
        if time.monotonic() >= deadline:
            raise AssertionError("not within %.1f s: %s (last: %r)" % (timeout, what or predicate, last))
        time.sleep(interval)


def _ip(*args, check=True):
    proc = subprocess.run(("ip",) + args, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=CMD_TIMEOUT)
    if check and proc.returncode != 0:
        raise RuntimeError("ip %s: exit %d: %s" % (" ".join(args), proc.returncode, proc.stderr.strip()))
    return proc


class Service:
    """One `morvex` process started by the harness."""

    def __init__(self, host, name, password, metadir, proc):
        self.host = host
        self.name = name
        self.password = password
        self.metadir = metadir
        self.proc = proc
        self.exit_status = None  # set by stop_service
        self.running_before = 0  # "running" lines in its logs before this start

    @property
    def pid(self):
        return self.proc.pid

    @property
    def output_path(self):
        return os.path.join(self.metadir, "service.out")

    def logs(self):
        """The text of every Morvex*.log of this service."""
        text = []
        for path in sorted(glob.glob(os.path.join(self.metadir, "Morvex", "Morvex*.log*"))):
            with open(path, errors="replace") as f:
                text.append(f.read())
        return "".join(text)

    def output(self):
        with contextlib.suppress(OSError), open(self.output_path, errors="replace") as f:
            return f.read()
        return ""


class Host:
    """One network namespace on the test network."""

    def __init__(self, label, netns, address):
        self.label = label        # "a", "b", ...
        self.netns = netns
        self.address = address    # "10.x.y.z"
        self.service = None       # the running Service, if any
        self.services = []        # every Service started here, oldest first

    @property
    def metadir(self):
        return self.service.metadir if self.service else None

    def __repr__(self):
        return "Host(%s, %s, %s)" % (self.label, self.netns, self.address)


class TestNetwork:
    """N hosts on one bridge.  Use as a context manager; exit tears it all down."""

    __test__ = False  # not a test case for pytest-style collectors

    def __init__(self, count, subnet="10.213.7", bin_dir=None, label=None):
        if not 1 <= count <= 200:
            raise ValueError("count must be 1..200")
        self.count = count
        self.subnet = subnet
        self.bin_dir = os.path.abspath(bin_dir or BIN_DIR)
        self.prefix = "mvxe2e-%d-%d" % (os.getpid(), next(_network_ids))
        self.bridge_netns = self.prefix + "-br"
        self.label = label or self.prefix  # log folder name for a failure outside any scenario
        self.hosts = []
        self._namespaces = []     # created, in order
        self._services = []       # started and not yet stopped, in order
        self._metadirs = []       # every metadir made, removed at close
        self._transcript = []     # (time, host label, args, (status, stdout, stderr)) of run()
        self._lock = threading.Lock()
        self._old_sigterm = None

    # ----- set-up and teardown -----

    def __enter__(self):
        self._catch_sigterm()
        atexit.register(self.close)  # also after an interrupt that skips the caller's teardown
        try:
            self._build()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, exc_type, exc, tb):
        try:
            if exc is not None and not _is_skip(exc):
                self._note_logs(exc, self.label)
        finally:
            self.close()
        return False

    def _build(self):
        self._add_netns(self.bridge_netns)
        _ip("-n", self.bridge_netns, "link", "add", "br0", "type", "bridge")
        _ip("-n", self.bridge_netns, "link", "set", "br0", "up")
        for i in range(self.count):
            label = _label(i)
            netns = "%s-%s" % (self.prefix, label)
            self._add_netns(netns)
            port = "p%d" % i
            # Both ends are created directly inside test namespaces.
            _ip("-n", self.bridge_netns, "link", "add", port, "type", "veth", "peer", "name", "eth0", "netns", netns)
            _ip("-n", self.bridge_netns, "link", "set", port, "master", "br0", "up")
            address = "%s.%d" % (self.subnet, 10 + i)
            _ip("-n", netns, "addr", "add", address + "/24", "brd", "+", "dev", "eth0")
            _ip("-n", netns, "link", "set", "eth0", "up")
            self.hosts.append(Host(label, netns, address))

    def _add_netns(self, name):
        _ip("netns", "add", name)
        self._namespaces.append(name)
        _ip("-n", name, "link", "set", "lo", "up")

    def close(self):
        """Stops every service started here (by PID) and deletes every namespace created here."""
        errors = []
        for service in list(self._services):
            try:
                self._stop(service)
            except Exception as exc:
                errors.append(exc)
        for name in reversed(self._namespaces):
            proc = _ip("netns", "delete", name, check=False)
            if proc.returncode != 0 and "No such file" not in proc.stderr:
                errors.append(RuntimeError("ip netns delete %s: %s" % (name, proc.stderr.strip())))
        self._namespaces.clear()
        if os.environ.get("MORVEX_E2E_KEEP") != "1":
            for metadir in self._metadirs:
                shutil.rmtree(metadir, ignore_errors=True)
        self._metadirs.clear()
        self._restore_sigterm()
        atexit.unregister(self.close)
        if errors:
            raise errors[0]

    def _catch_sigterm(self):
        # A runner stopped with SIGTERM still unwinds, so teardown runs.
        if threading.current_thread() is threading.main_thread() and signal.getsignal(signal.SIGTERM) == signal.SIG_DFL:
            def on_term(signum, frame):
                raise KeyboardInterrupt("SIGTERM")
            self._old_sigterm = signal.signal(signal.SIGTERM, on_term)

    def _restore_sigterm(self):
        if self._old_sigterm is not None and threading.current_thread() is threading.main_thread():
            signal.signal(signal.SIGTERM, self._old_sigterm)
            self._old_sigterm = None

    def set_link(self, host, up):
        """Takes host's cable out of the bridge (up=False) or puts it back."""
        port = "p%d" % self.hosts.index(host)
        _ip("-n", self.bridge_netns, "link", "set", port, "up" if up else "down")

    # ----- hosts and binaries -----

    def host(self, label):
        for host in self.hosts:
            if host.label == label:
                return host
        raise KeyError(label)

    def binary(self, name):
        return os.path.join(self.bin_dir, name)

    @property
    def ctl_path(self):
        return self.binary("morvexctl")

    # ----- services -----

    def start_service(self, host, password, name, extra_args=(), wait=True, metadir=None, display=None):
        """Starts `morvex --headless` in `host` with a fresh metadir (or the
        given one, to restart a device) and default ports; with `display`
        (":N", an X server the test runs) `morvex` with its desktop there.

        With wait=True returns once its log says it is running (raises if it
        exits or does not get there within START_TIMEOUT).
        """
        if host.service is not None:
            raise RuntimeError("%s already runs a service" % host.label)
        if metadir is None:
            metadir = tempfile.mkdtemp(prefix="%s-%s-" % (self.prefix, host.label))
            self._metadirs.append(metadir)
        argv = (["ip", "netns", "exec", host.netns, self.binary("morvex")] + ([] if display else ["--headless"])
                + ["-t", password, "-n", name, "-m", metadir] + list(extra_args))
        restart = os.path.exists(os.path.join(metadir, "service.out"))
        # A restarted device's logs already say it ran once.
        running_before = Service(host, name, password, metadir, None).logs().count(RUNNING_LINE)
        with open(os.path.join(metadir, "service.out"), "ab" if restart else "wb") as out:
            # `ip netns exec` execs the program: the PID is the service's own.
            # A session of its own keeps a terminal's Ctrl-C for the runner.
            # Its own configuration folder: sync folders go into the file
            # manager's bookmarks there, not into this machine's.
            env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(metadir, "config"))
            env.pop("DISPLAY", None)
            env.pop("WAYLAND_DISPLAY", None)
            if display:
                # English window titles, whatever the runner's locale.
                # No session bus: notifications fall back to the tray, and
                # nothing autolaunches a bus daemon that would outlive the test.
                env.update(DISPLAY=display, LANG="C.UTF-8", LANGUAGE="",
                           DBUS_SESSION_BUS_ADDRESS="unix:path=/nonexistent/morvex-test-bus")
                env.pop("LC_ALL", None)
                env.pop("LC_MESSAGES", None)
            proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                                    start_new_session=True, env=env)
        service = Service(host, name, password, metadir, proc)
        service.running_before = running_before
        host.service = service
        host.services.append(service)
        self._services.append(service)
        if wait:
            self.wait_running(host)
        return service

    def wait_running(self, host, timeout=START_TIMEOUT):
        service = host.service

        def running():
            if service.proc.poll() is not None:
                raise _Exited("service on %s exited with status %s:\n%s"
                              % (host.label, service.proc.returncode, service.output()[-2000:]))
            return service.logs().count(RUNNING_LINE) > service.running_before

        deadline = time.monotonic() + timeout
        while not running():
            if time.monotonic() >= deadline:
                raise AssertionError("service on %s not running within %.0f s:\n%s"
                                     % (host.label, timeout, service.output()[-2000:]))
            time.sleep(0.1)

    def stop_service(self, host):
        """SIGTERM, up to STOP_TIMEOUT s, then SIGKILL.  Returns the exit status
        (negative: killed by that signal; None: it had to be killed)."""
        service = host.service
        if service is None:
            return None
        return self._stop(service)

    def kill_service(self, host):
        """SIGKILL, as a crash or a power cut would end it; returns its metadir."""
        service = host.service
        with contextlib.suppress(ProcessLookupError):
            os.kill(service.proc.pid, signal.SIGKILL)
        service.proc.wait()
        service.exit_status = service.proc.returncode
        host.service = None
        with contextlib.suppress(ValueError):
            self._services.remove(service)
        return service.metadir

    def _stop(self, service):
        proc = service.proc
        if proc.poll() is None:
            with contextlib.suppress(ProcessLookupError):
                os.kill(proc.pid, signal.SIGTERM)
            try:
                service.exit_status = proc.wait(STOP_TIMEOUT)
            except subprocess.TimeoutExpired:
                with contextlib.suppress(ProcessLookupError):
                    os.kill(proc.pid, signal.SIGKILL)
                proc.wait()
                service.exit_status = None
        elif service.exit_status is None and service.host.service is service:
            service.exit_status = proc.returncode
        if service.host.service is service:
            service.host.service = None
        with contextlib.suppress(ValueError):
            self._services.remove(service)
        return service.exit_status

    # ----- commands -----

    def run(self, host, *args, timeout=CMD_TIMEOUT):
        """Runs a command in `host`; returns (status, stdout, stderr).  A
        command still running after `timeout` s is killed (status None)."""
        argv = ["ip", "netns", "exec", host.netns] + [str(a) for a in args]
        try:
            proc = subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=timeout)
            result = (proc.returncode, proc.stdout, proc.stderr)
        except subprocess.TimeoutExpired as exc:
            result = (None, _text(exc.stdout), _text(exc.stderr) + "\n[killed after %.0f s]" % timeout)
        self._record(host, args, result)
        return result

    def ctl(self, host, *args, timeout=CMD_TIMEOUT):
        """Runs `morvexctl -m METADIR args...` against host's service."""
        if host.service is None:
            raise RuntimeError("no service runs on %s" % host.label)
        return self.run(host, self.ctl_path, "-m", host.service.metadir, *args, timeout=timeout)

    def ctl_json(self, host, *args):
        """`ctl` that must succeed; returns its parsed JSON output."""
        status, out, err = self.ctl(host, *args)
        if status != 0:
            raise AssertionError("morvexctl %s on %s: exit %s: %s" % (" ".join(args), host.label, status, err.strip()))
        try:
            return json.loads(out)
        except ValueError as exc:
            raise AssertionError("morvexctl %s on %s: not JSON (%s): %r" % (" ".join(args), host.label, exc, out[:500]))

    def _record(self, host, args, result):
        with self._lock:
            entry = (time.strftime("%H:%M:%S"), host.label, args, result)
            # Polling repeats itself: keep one line per change.
            if self._transcript and self._transcript[-1][1:] == entry[1:]:
                return
            self._transcript.append(entry)
            del self._transcript[:-400]

    # ----- scenarios and logs -----

    @contextlib.contextmanager
    def scenario(self, label, check_clean_stop=True):
        """One test on this network.  Prints its duration; stops the services
        started in it; on an exception copies every host's logs to a folder
        named in the failure.  With check_clean_stop, a service that does not
        exit with status 0 within STOP_TIMEOUT of SIGTERM fails the scenario."""
        started = time.monotonic()
        for host in self.hosts:  # logs of earlier scenarios are not this one's
            host.services = [host.service] if host.service else []
        before = set(map(id, self._services))
        self._transcript.clear()
        failure = None
        try:
            yield self
        except BaseException as exc:
            failure = exc
        unclean = []
        for service in [s for s in list(self._services) if id(s) not in before]:
            status = self._stop(service)
            if status != 0:
                unclean.append("%s: %s" % (service.host.label, "still running %.0f s after SIGTERM" % STOP_TIMEOUT
                                            if status is None else "exit status %s" % status))
        print("\n[%s: %.1f s]" % (label, time.monotonic() - started), file=sys.stderr, flush=True)
        if failure is None and unclean and check_clean_stop:
            failure = AssertionError("services did not stop cleanly on SIGTERM: " + ", ".join(unclean))
        if failure is not None:
            if not _is_skip(failure):
                self._note_logs(failure, label)
            raise failure

    def collect_logs(self, label):
        """Copies every host's service output and Morvex*.log files, and the
        commands run, to LOG_ROOT/<label>/; returns that folder."""
        folder = os.path.join(LOG_ROOT, re.sub(r"[^A-Za-z0-9_.-]+", "_", label))
        os.makedirs(folder, exist_ok=True)
        for host in self.hosts:
            for n, service in enumerate(host.services):
                dest = os.path.join(folder, "%s-%d-%s" % (host.label, n, re.sub(r"[^A-Za-z0-9_.-]+", "_", service.name)))
                os.makedirs(dest, exist_ok=True)
                paths = [service.output_path] + glob.glob(os.path.join(service.metadir, "Morvex", "Morvex*.log*"))
                for path in paths:
                    with contextlib.suppress(OSError):
                        shutil.copy2(path, dest)
        with open(os.path.join(folder, "commands.txt"), "w") as f:
            f.write("hosts: %s\n\n" % ", ".join("%s=%s %s" % (h.label, h.address, h.netns) for h in self.hosts))
            for when, label_, args, (status, out, err) in list(self._transcript):
                f.write("%s [%s] %s -> %s\n" % (when, label_, " ".join(map(str, args)), status))
                for stream in (out, err):
                    if stream.strip():
                        f.write("    " + stream.strip().replace("\n", "\n    ") + "\n")
        return folder

    def _note_logs(self, exc, label):
        try:
            note = "logs copied to " + self.collect_logs(label)
        except Exception as copy_error:
            note = "logs could not be copied: %s" % copy_error
        if hasattr(exc, "add_note"):
            exc.add_note(note)
        else:  # before Python 3.11: shows in the message where possible
            exc.args = (("%s\n%s" % (exc.args[0], note)),) + exc.args[1:] if exc.args else (note,)


class _Exited(AssertionError):
    pass


def _is_skip(exc):
    import unittest
    return isinstance(exc, unittest.SkipTest)


def _label(i):
    return "abcdefghijklmnopqrstuvwxyz"[i] if i < 26 else "h%d" % i


def _text(data):
    if data is None:
        return ""
    return data.decode(errors="replace") if isinstance(data, bytes) else data


# ----- helpers the scenario files share -----

def open_network(count, subnet, programs=("morvex", "morvexctl")):
    """The module's test network, for setUpModule: skips without root or
    `ip`, fails when a program is not built."""
    import unittest
    reason = skip_reason()
    if reason:
        raise unittest.SkipTest(reason)
    for program in programs:
        path = os.path.join(BIN_DIR, program)
        if not os.access(path, os.X_OK):
            raise AssertionError("%s is not built (MORVEX_BIN_DIR=%s)" % (path, BIN_DIR))
    return TestNetwork(count, subnet=subnet).__enter__()


_digests = {}  # (path, inode, size, mtime_ns) -> sha1: polling rereads only what changed


def digest(path):
    import hashlib
    info = os.stat(path)
    key = (path, info.st_ino, info.st_size, info.st_mtime_ns)
    if key not in _digests:
        sha = hashlib.sha1()
        with open(path, "rb") as f:
            for block in iter(lambda: f.read(4 * 1024 * 1024), b""):
                sha.update(block)
        _digests[key] = sha.hexdigest()
    return _digests[key]


def snapshot(root):
    """{relative path: (kind, sha1 or None, permission bits)} of everything
    under root, the service's temporary files included."""
    import stat
    found = {}
    for folder, dirs, files in os.walk(root):
        for name in dirs + files:
            path = os.path.join(folder, name)
            info = os.lstat(path)
            rel = os.path.relpath(path, root)
            if stat.S_ISDIR(info.st_mode):
                found[rel] = ("dir", None, stat.S_IMODE(info.st_mode))
            elif stat.S_ISREG(info.st_mode):
                found[rel] = ("file", digest(path), stat.S_IMODE(info.st_mode))
            else:
                found[rel] = ("other", None, stat.S_IMODE(info.st_mode))
    return found


def write(path, data, mode=None):
    """Writes a file, making its folders; `mode` then sets its permissions."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    if mode is not None:
        os.chmod(path, mode)
