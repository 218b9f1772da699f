"""Free Line in a real bbshost: with every line of its range in use, the
visitor (DEMO, no NOBUMP key) is warned, with the bell, and cut off when the
warning time is up, while a member and the Sysop keep their lines. The
shortest times the options allow: a count 20 seconds after start-up and a
warning of 10 seconds."""

import time
import unittest

from bbsrun import Host


class FreeLine(unittest.TestCase):
    def setUp(self):
        # Three lines, all in the range, none spare: three callers fill it.
        self.host = Host(dlls=("KRVFRELN",), settings={"LINES": "3"},
                         options={"krvfreln.mcv": {4: "0", 5: "20", 6: "0", 7: "2", 8: "10"}})
        r = self.host.run("user", "add", "Member", "USER", stdin="memberpw\n")
        self.assertEqual(r.returncode, 0, r.stderr)

    def tearDown(self):
        self.host.cleanup()

    def test_a_visitor_is_warned_and_cut_off_while_key_holders_stay(self):
        started = time.time()
        self.host.start()
        guest = self.host.raw()
        guest.sign_up("Guest", "guestpw")               # new callers are DEMO
        member = self.host.raw()
        member.log_on("Member", "memberpw")             # USER holds NOBUMP
        sysop = self.host.raw()
        sysop.log_on("Sysop", self.host.sysop_password)

        warning = guest.expect("call will end in 10 seconds", 30)
        warned_at = time.time()
        self.assertIn("\a", warning)                    # the bell goes ahead of it
        self.assertGreaterEqual(warned_at - started, 19)
        self.assertTrue(guest.wait_closed(15), "the visitor was not cut off")
        self.assertGreaterEqual(time.time() - warned_at, 9)

        for caller, who in ((member, "Member"), (sysop, "Sysop")):
            caller.line("W")                            # still on: who is on-line
            seen = caller.expect("Your choice: ")       # everything since the log-on
            self.assertIn(who, seen)
            self.assertNotIn("call will end", seen)
        audit = self.host.audit()
        self.assertRegex(audit, r"KRV Free Line warned DEMO user\s+User-ID: Guest")
        self.assertRegex(audit, r"KRV Free Line bumped DEMO user\s+User-ID: Guest")
        self.assertNotIn("User-ID: Member", audit.split("KRV Free Line", 1)[1])


if __name__ == "__main__":
    unittest.main()
