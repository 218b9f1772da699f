"""Bad input and bad callers against a real bbshost over TCP. After each, the
host still serves the other lines and has lost nothing."""

import os
import random
import socket
import time
import unittest

from bbsrun import Host

IAC = 255


class Faults(unittest.TestCase):
    def setUp(self):
        self.host = Host(settings={"LINES": "8", "IDLE_WARN_SECONDS": "2", "IDLE_LIMIT_SECONDS": "4",
                                   "OUTPUT_STALL_SECONDS": "3"},
                         options={"krvtsta.mcv": {3: "0"}}).start()
        # Members made before every fault: Keeper is the faulty caller,
        # Witness must still log on and be served after it.
        for user_id in ("Keeper", "Witness"):
            c = self.host.raw()
            c.sign_up(user_id, user_id.lower() + "pw")
            c.line("G")
            c.wait_closed()

    def tearDown(self):
        self.host.cleanup()

    def assert_still_serving(self):
        self.assertTrue(self.host.alive(), self.host.console())
        c = self.host.raw()
        c.log_on("Witness", "witnesspw")
        start = time.time()
        c.line("testa ping")
        c.expect("The command had 2 words.")
        self.assertLess(time.time() - start, 2.0)
        c.line("G")
        self.assertTrue(c.wait_closed())

    def test_an_overlong_line_is_cut_and_costs_nothing(self):
        c = self.host.raw()
        c.send("A" * 200_000 + "\r\n")              # at the user-ID prompt
        c.expect("User-ID")
        c.log_on("Keeper", "keeperpw")
        c.text.clear()
        c.send("testa " + "x" * 100_000 + " y\r\n")  # the rest of the line past the limit is lost
        c.expect("The command had 2 words.")
        c.line("1")
        c.expect("You are in the test plug-in.")
        c.line("z" * 5000)
        c.expect("You said: ")
        self.assertEqual(c.expect("\r\n"), "z" * 255 + "\r\n")
        self.assert_still_serving()

    def test_nuls_control_and_high_bytes(self):
        c = self.host.raw()
        c.send(b"Kee\x00per\x07\r\n")                # control bytes are dropped from the user-ID
        c.expect("Password: ")
        c.send(b"keeperpw\r\x00")                    # CR NUL ends a line
        c.expect("Your choice: ")
        c.send(b"\x1b[A\x1b[B1\r\n")                 # cursor keys are dropped whole
        c.expect("You are in the test plug-in.")
        c.send(b"caf\xe9 \xff\xff \x80\xfe\x01\r\n")  # IAC IAC is a 0xFF data byte
        c.expect("You said: ")
        self.assertEqual(c.expect(b"\r\n"), "caf\xe9 \xff \x80\xfe\r\n")
        c.send(b"abc\x08\x08XY\x7fZ\r\n")           # backspace and delete edit the line
        c.expect("You said: aXZ")
        c.send(b"quit\n")
        c.expect("Your choice: ")
        self.assert_still_serving()

    def test_an_iac_flood(self):
        c = self.host.raw()
        c.log_on("Keeper", "keeperpw")
        rnd = random.Random(7)
        flood = bytearray()
        while len(flood) < 2_000_000:
            kind = rnd.randrange(5)
            if kind == 0:
                flood += bytes([IAC, 241])                               # NOP
            elif kind == 1:
                flood += bytes([IAC, rnd.choice([251, 252, 253, 254]), rnd.randrange(256)])
            elif kind == 2:
                flood += bytes([IAC, 250, 31]) + os.urandom(rnd.randrange(1, 40)).replace(b"\xff", b"") + bytes([IAC, 240])
            elif kind == 3:
                flood += bytes([IAC, 250, 24]) + b"x" * 30000 + bytes([IAC, 240])  # overlong subnegotiation
            else:
                flood += bytes([IAC, rnd.randrange(236, 250)])
        sent = 0
        c.sock.setblocking(False)
        end = time.time() + 60
        while sent < len(flood) and time.time() < end:
            try:
                sent += c.sock.send(flood[sent:sent + 65536])
            except BlockingIOError:
                pass
            c.read_some(0.01)                       # reads what the host answers, as a client does
            if c.closed:
                break
        c.sock.setblocking(True)
        self.assertTrue(self.host.alive())
        if not c.closed:
            c.line("")                              # ends whatever the flood left on the input line
            c.line("testa after flood")
            c.expect("The command had 3 words.", 30)
        self.assertLess(self.host.rss_kb(), 200_000)
        self.assert_still_serving()

    def test_a_caller_who_falls_silent_is_let_go_and_keeps_his_account(self):
        silent = self.host.raw()
        silent.log_on("Keeper", "keeperpw")
        silent.line("testa hello")
        silent.expect("The command had 2 words.")
        # From here on the caller neither types nor reads, and his socket
        # stays open: to the host he is a half-open connection.
        other = self.host.raw()
        other.sign_up("Other", "otherpw")
        other.line("W")
        other.expect("Keeper")
        other.expect("Your choice: ")
        for _ in range(6):                           # the other caller goes on typing
            other.line("testa tick")
            other.expect("The command had 2 words.")
            time.sleep(1)
        other.line("W")                              # the quiet line was warned, then freed
        who = other.expect("Your choice: ")
        self.assertNotIn("Keeper", who)
        self.assertIn("TEST HANGUP", self.host.audit())
        other.line("G")
        self.assertTrue(other.wait_closed())
        self.assert_still_serving()

    def test_a_caller_who_never_reads_is_dropped_without_slowing_the_others(self):
        reader_less = self.host.raw()
        reader_less.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        reader_less.log_on("Keeper", "keeperpw")
        reader_less.line("testa poll 1000000")   # output that never ends, never read
        reader_less.sock.setblocking(False)
        try:
            for _ in range(2000):
                reader_less.send("testa more\r\n")
        except (BlockingIOError, BrokenPipeError, ConnectionResetError):
            pass                                   # the host stopped reading him: right
        other = self.host.raw()
        other.sign_up("Other", "otherpw")
        for _ in range(20):
            start = time.time()
            other.line("testa x")
            other.expect("The command had 2 words.")
            self.assertLess(time.time() - start, 1.0)
        self.host.wait_console("output not taken", 15)
        self.assertLess(self.host.rss_kb(), 200_000)
        other.line("G")
        other.wait_closed()
        self.assert_still_serving()


class Crowd(unittest.TestCase):
    def test_256_callers_at_once_and_the_next_is_refused(self):
        host = Host(settings={"LINES": "256"}, options={"krvtsta.mcv": {3: "0"}}).start()
        try:
            callers = []
            for _ in range(256):
                callers.append(host.raw())
            for c in callers:
                c.expect("User-ID")
            extra = host.raw()
            extra.expect("All lines are busy")
            self.assertTrue(extra.wait_closed())
            callers[100].line("NEW")                  # every line is served while all are taken
            callers[100].expect("Choose a user-ID")
            callers[0].close()
            time.sleep(0.5)
            late = host.raw()                # a freed line takes the next caller
            late.expect("User-ID")
            self.assertEqual(host.stop(), 0)
        finally:
            host.cleanup()


if __name__ == "__main__":
    unittest.main()
