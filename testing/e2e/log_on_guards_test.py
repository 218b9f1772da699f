"""Call Back and NoGhost in a real bbshost, loaded as the demo loads them:
a caller whose telnet client hangs (its connection still open, so the board
still holds his line) calls again, gives his password and is let in while
the hung call is ended; a caller who hangs up and calls straight back is
told when he may call and sent away, and let in once the wait is over."""

import os
import re
import signal
import time
import unittest
from datetime import datetime

import pexpect

from bbsrun import Host

WAIT_SECONDS = 4


class LogOnGuards(unittest.TestCase):
    def setUp(self):
        self.host = Host(dlls=("KRVCALBK", "KRVGHOST"),
                         options={"krvcalbk.mcv": {4: str(WAIT_SECONDS)}})
        r = self.host.run("user", "add", "Member", "USER", stdin="memberpw\n")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.host.start()
        self.assertIn("Password check, first called first: KRVGHOST -> KRVCALBK -> host", self.host.console())

    def tearDown(self):
        self.host.cleanup()

    def test_a_caller_whose_call_hangs_clears_his_ghost_with_his_password(self):
        hung = self.host.telnet()
        hung.sendline("Member")
        hung.expect("Password: ")
        hung.sendline("memberpw")
        hung.expect("Your choice: ")
        os.kill(hung.pid, signal.SIGSTOP)  # the client stops; its connection stays open
        try:
            again = self.host.raw()
            again.expect("User-ID")
            again.line("Member")
            again.expect("Password: ")
            again.line("not his")              # a wrong password leaves the other call alone
            again.expect("Wrong password.")
            again.expect("User-ID")
            self.assertNotIn("NOGHOSTED", self.host.audit())
            again.line("Member")
            again.expect("Password: ")
            again.line("memberpw")
            again.expect("Welcome, Member!")
            again.expect("Your choice: ")
            self.host.wait_console("line 0: call ended")
            again.line("W")
            who = again.expect("Your choice: ")
            self.assertEqual(len(re.findall(r"^\s+\S\S\s+Member\b", who, re.M)), 1, who)
            self.assertRegex(self.host.audit(), r"KRV NoGhost: USER NOGHOSTED\s+User-ID: Member")
            again.line("M")
            self.assertIn("Your earlier call was ended", again.expect("Q to go back: "))
        finally:
            os.kill(hung.pid, signal.SIGCONT)
        hung.expect(pexpect.EOF)              # the hung call was closed by the board

    def test_a_caller_who_calls_back_too_soon_is_told_when_and_sent_away(self):
        first = self.host.raw()
        first.log_on("Member", "memberpw")
        first.line("G")
        first.expect("Goodbye, Member.")
        self.assertTrue(first.wait_closed())
        hung_up = time.time()

        again = self.host.raw()
        again.expect("User-ID")
        again.line("Member")
        again.expect("Password: ")
        again.line("memberpw")
        told = again.expect("Goodbye!")
        m = re.search(r"you may call again on (\S+) at (\S+)\.\s+It is now (\S+) (\S+)\.", told)
        self.assertIsNotNone(m, told)
        self.assertNotIn("Welcome, Member!", told)
        end = datetime.strptime(m.group(1) + " " + m.group(2), "%m/%d/%y %H:%M:%S")
        at = datetime.strptime(m.group(3) + " " + m.group(4), "%m/%d/%y %H:%M:%S")
        self.assertTrue(0 < (end - at).total_seconds() <= WAIT_SECONDS, told)
        self.assertTrue(again.wait_closed())
        self.assertRegex(self.host.audit(), r"KRV Call Back delayed Log-on\s+User-ID: Member")

        time.sleep(max(0.0, hung_up + WAIT_SECONDS + 1 - time.time()))
        later = self.host.raw()
        later.log_on("Member", "memberpw")    # the wait is over


if __name__ == "__main__":
    unittest.main()
