"""A real bbshost on a temporary BBS directory, and callers that reach it
over TCP: Debian's telnet client driven by pexpect, or a raw socket that
speaks just enough telnet to read the text."""

import os
import re
import select
import shutil
import signal
import socket
import subprocess
import tempfile
import time

import pexpect

BIN = os.environ.get("BBS_BIN_DIR", "")
PLUGIN_FILES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "plugin")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Host:
    """bbshost serving a fresh BBS made with `bbshost init`."""

    def __init__(self, dlls=("KRVTSTA",), settings=None, options=None):
        self.bbshost = os.path.join(BIN, "bbshost")
        self.root = tempfile.mkdtemp(prefix="bbs-e2e-")
        self.dir = os.path.join(self.root, "bbs")
        out = subprocess.run([self.bbshost, "init", self.dir], capture_output=True, text=True,
                             stdin=subprocess.DEVNULL, check=True).stdout
        self.sysop_password = re.search(r"password (\S+)", out).group(1)
        for name in os.listdir(PLUGIN_FILES):  # the test plug-in's message and descriptor files
            if name.lower().endswith((".mcv", ".mdf")):
                shutil.copy(os.path.join(PLUGIN_FILES, name), self.dir)
        self.port = free_port()
        wanted = {"PORT": str(self.port), "LINES": "8", "IDLE_WARN_SECONDS": "0", "IDLE_LIMIT_SECONDS": "0"}
        wanted.update(settings or {})
        lines = []
        with open(os.path.join(self.dir, "WGSERV.CFG")) as f:
            for line in f:
                key = line.split("=", 1)[0].strip().upper()
                if key == "DLL" or key in wanted:
                    continue
                lines.append(line)
        lines += [f"DLL={d}\n" for d in dlls]
        lines += [f"{k}={v}\n" for k, v in wanted.items()]
        with open(os.path.join(self.dir, "WGSERV.CFG"), "w") as f:
            f.writelines(lines)
        for name, values in (options or {}).items():
            self.set_options(name, values)
        self.proc = None
        self.callers = []
        self.log_path = os.path.join(self.root, "console.txt")

    def set_options(self, file_name, values):
        path = os.path.join(self.dir, file_name)
        with open(path) as f:
            text = f.readlines()
        for i, line in enumerate(text):
            m = re.match(r"(\d+)\s", line)
            if m and int(m.group(1)) in values:
                text[i] = line.split("=", 1)[0].rstrip() + " = " + values[int(m.group(1))] + "\n"
        with open(path, "w") as f:
            f.writelines(text)

    def start(self):
        self.log_file = open(self.log_path, "w")
        self.proc = subprocess.Popen([self.bbshost, "-d", self.dir, "serve"], stdout=self.log_file,
                                     stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        self.wait_console("Listening on", 30)
        return self

    def console(self):
        with open(self.log_path, errors="replace") as f:
            return f.read()

    def wait_console(self, text, timeout=10):
        end = time.time() + timeout
        while time.time() < end:
            if text in self.console():
                return
            if self.proc.poll() is not None:
                raise AssertionError(f"bbshost exited ({self.proc.returncode}):\n{self.console()}")
            time.sleep(0.05)
        raise AssertionError(f"{text!r} not on the console within {timeout} s:\n{self.console()}")

    def audit(self):
        path = os.path.join(self.dir, "AUDIT.TXT")
        if not os.path.exists(path):
            return ""
        with open(path, errors="replace") as f:
            return f.read()

    def rss_kb(self):
        with open(f"/proc/{self.proc.pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return 0

    def alive(self):
        return self.proc is not None and self.proc.poll() is None

    def stop(self, sig=signal.SIGTERM, timeout=30):
        """Stops the host; returns its exit status."""
        if self.proc is None:
            return None
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
            try:
                self.proc.wait(timeout)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
                raise AssertionError("bbshost did not stop within %d s:\n%s" % (timeout, self.console()))
        self.log_file.close()
        return self.proc.returncode

    def run(self, *args, stdin=None):
        """An operator's command on this BBS directory."""
        return subprocess.run([self.bbshost, "-d", self.dir, *args], capture_output=True, text=True,
                              input=stdin)

    def telnet(self, timeout=10, rows=24, columns=80):
        """Debian's telnet client on the host's port, in a window of the given size."""
        child = pexpect.spawn("telnet", ["127.0.0.1", str(self.port)], encoding="latin-1", timeout=timeout,
                              dimensions=(rows, columns))
        child.expect("User-ID")
        return child

    def raw(self):
        c = RawCaller(self.port)
        self.callers.append(c)
        return c

    def cleanup(self):
        for c in self.callers:
            c.close()
        if self.alive():
            self.stop(signal.SIGKILL)
        shutil.rmtree(self.root, ignore_errors=True)


IAC, SB, SE = 255, 250, 240


class RawCaller:
    """A bare TCP caller: sends bytes as they are, answers no negotiation,
    and keeps the text it receives with the telnet commands taken out."""

    def __init__(self, port, timeout=10):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=timeout)
        self.text = bytearray()
        self.raw = bytearray()
        self.closed = False
        self._state = 0

    def send(self, data):
        if isinstance(data, str):
            data = data.encode("latin-1")
        self.sock.sendall(data)

    def line(self, text):
        self.send(text + "\r\n")

    def _take(self, data):
        self.raw += data
        for b in data:
            s = self._state
            if s == 0:
                if b == IAC:
                    self._state = 1
                else:
                    self.text.append(b)
            elif s == 1:  # after IAC
                if b == IAC:
                    self.text.append(b)
                    self._state = 0
                elif b == SB:
                    self._state = 3
                elif b in (251, 252, 253, 254):
                    self._state = 2
                else:
                    self._state = 0
            elif s == 2:  # the option of WILL/WONT/DO/DONT
                self._state = 0
            elif s == 3:  # inside SB
                if b == IAC:
                    self._state = 4
            elif s == 4:
                self._state = 0 if b == SE else 3

    def read_some(self, timeout=0.2):
        if self.closed:
            return False
        ready, _, _ = select.select([self.sock], [], [], timeout)
        if not ready:
            return True
        try:
            data = self.sock.recv(65536)
        except (ConnectionResetError, TimeoutError):
            data = b""
        if not data:
            self.closed = True
            self.close()
            return False
        self._take(data)
        return True

    def expect(self, pattern, timeout=10):
        """Waits until `pattern` (bytes or str) is in the text; returns the
        text up to and including it, and keeps what follows."""
        if isinstance(pattern, str):
            pattern = pattern.encode("latin-1")
        end = time.time() + timeout
        while True:
            i = self.text.find(pattern)
            if i >= 0:
                head = bytes(self.text[: i + len(pattern)])
                del self.text[: i + len(pattern)]
                return head.decode("latin-1")
            remaining = end - time.time()
            if remaining <= 0 or not self.read_some(min(0.2, remaining)):
                if self.text.find(pattern) < 0:
                    raise AssertionError(f"{pattern!r} not received; got {bytes(self.text[-400:])!r}"
                                         + (" (connection closed)" if self.closed else ""))

    def wait_closed(self, timeout=10):
        end = time.time() + timeout
        while time.time() < end:
            if not self.read_some(0.2):
                return True
        return False

    def sign_up(self, user_id, password):
        self.expect("User-ID")
        self.line("NEW")
        self.expect("Choose a user-ID")
        self.line(user_id)
        self.expect("Choose a password")
        self.line(password)
        self.expect("again")
        self.line(password)
        self.expect("Your choice: ")

    def log_on(self, user_id, password):
        self.expect("User-ID")
        self.line(user_id)
        self.expect("Password: ")
        self.line(password)
        self.expect("Your choice: ")

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass
