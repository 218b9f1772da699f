"""The Class Change, the Credit and the Demo Clean in a real bbshost: the
Sysop moves a caller who is on-line into PREMIUM by command; `bbshost
cleanup` on the allotment day gives the monthly credits and tags old DEMO
accounts; `bbshost purge` removes them with their credit records."""

import os
import sqlite3
import struct
import time
import unittest

from bbsrun import Host

MODULES = ("KRVCLSCG", "KRVCRED", "KRVDMCLN")


def set_bbs_clock(host, year, month, day, hour, minute):
    """Sets the BBS's clock (offset mode) to the given local time: the host
    keeps the offset to the machine's clock in its database."""
    t = time.time()
    machine_local = t + time.localtime(t).tm_gmtoff
    wanted = time.mktime((year, month, day, hour, minute, 0, 0, 0, -1))
    wanted_local = wanted + time.localtime(wanted).tm_gmtoff
    db = sqlite3.connect(os.path.join(host.dir, "BBSHOST.DB"))
    with db:
        db.execute("INSERT OR REPLACE INTO host_blobs(name, value) VALUES('clock_offset', ?)",
                   (struct.pack("<q", int(wanted_local - machine_local)),))
    db.close()


def record_keys(host, file_name):
    db = sqlite3.connect(os.path.join(host.dir, file_name))
    keys = [row[0] for row in db.execute("SELECT key FROM records ORDER BY key COLLATE NOCASE")]
    db.close()
    return keys


class Accounts(unittest.TestCase):
    def setUp(self):
        # The clean-up time lies after the test's time of day, so a new BBS
        # has not yet had today's clean-up.
        self.host = Host(dlls=MODULES, settings={"CLEANUP_TIME": "23:59"},
                         options={"krvcred.mcv": {14: "5"}})

    def tearDown(self):
        self.host.cleanup()

    def run_ok(self, *args, stdin=None):
        r = self.host.run(*args, stdin=stdin)
        self.assertEqual(r.returncode, 0, f"{args}: {r.stderr}")
        return r.stdout

    def show(self, user_id):
        return self.run_ok("user", "show", user_id)

    def test_the_sysop_upgrades_callers_who_are_on_line(self):
        self.run_ok("user", "add", "Member", "USER", stdin="memberpw\n")
        self.host.start()
        sysop = self.host.raw()
        sysop.expect("User-ID")
        sysop.line("Sysop")
        sysop.expect("Password: ")
        sysop.line(self.host.sysop_password)
        sysop.expect("type UPGRADE, a user-ID and a number of days")
        sysop.expect("Your choice: ")
        member = self.host.raw()
        member.log_on("Member", "memberpw")
        visitor = self.host.raw()
        visitor.sign_up("Visitor", "visitorpw")      # new callers are DEMO

        member.line("UPGRADE Visitor 3")                 # the Sysop's key only
        member.expect("Sorry, you may not change a caller's class.")
        sysop.line("upgrade member 7")
        sysop.expect("Member is now in class PREMIUM for 7 days; 100 credits were added.")
        sysop.line("UPGRADE visitor 3")
        sysop.expect("Visitor is now in class PREMIUM for 3 days; 100 credits were added.")
        sysop.line("UPGRADE Nobody 3")
        sysop.expect("There is no account with the user-ID 'Nobody'.")
        sysop.line("UPGRADE Member 91")
        sysop.expect("give a number of days in that range")
        self.assertRegex(self.host.audit(), r"CLASS SWITCH : PREMIUM\s+Member by Sysop")
        self.assertRegex(self.host.audit(), r"CLASS SWITCH : PREMIUM\s+Visitor by Sysop")

        # While on-line their records in memory took the credits: logging
        # off writes those back.
        for caller in (member, visitor):
            caller.line("G")
            self.assertTrue(caller.wait_closed())
        self.host.stop()
        member_show = self.show("Member")
        self.assertIn("Class:            PREMIUM\n", member_show)
        self.assertIn("Previous class:   USER\n", member_show)
        self.assertIn("Credits:          200 ", member_show)       # 100 of USER and 100 posted
        visitor_show = self.show("Visitor")
        self.assertIn("Class:            PREMIUM\n", visitor_show)
        self.assertIn("Previous class:   USER\n", visitor_show)    # credits posted moved DEMO to USER first
        self.assertIn("Credits:          100 ", visitor_show)

    def test_cleanup_on_the_allotment_day_gives_credits_and_tags_old_demo_accounts_and_purge_removes_them(self):
        set_bbs_clock(self.host, 2026, 3, 5, 12, 0)    # the 5th: the allotment day
        for user_id, cls, made in (("Old Visitor", "DEMO", "2026-01-01"),
                                   ("Recent Visitor", "DEMO", "2026-02-20"),
                                   ("Member", "USER", "2020-01-01")):
            self.run_ok("user", "add", user_id, cls, stdin="password1\n")
            self.run_ok("user", "set", user_id, "account-date", made)

        out = self.run_ok("cleanup")
        self.assertIn("KRV Demo Clean Kill Tagged", out)
        self.assertIn("User-ID: Old Visitor", out)
        self.assertNotIn("Recent Visitor", out)
        self.assertIn("Credits:          10 ", self.show("Old Visitor"))      # DEMO's allotment
        self.assertIn("Flags:            TAGGED_FOR_DELETION\n", self.show("Old Visitor"))
        self.assertIn("Flags:            -\n", self.show("Recent Visitor"))
        self.assertIn("Credits:          200 ", self.show("Member"))          # 100 to start, 100 allotted
        self.assertIn("Flags:            -\n", self.show("Member"))           # holds USER
        with open(os.path.join(self.host.dir, "EZECID.TXT")) as f:
            self.assertEqual(f.read(), "03/05/26 Old Visitor\n")
        self.assertEqual(record_keys(self.host, "krvcred.dat"), ["Member", "Old Visitor", "Recent Visitor"])

        # The same day again: tagged and reported again, but no second allotment.
        self.run_ok("cleanup")
        self.assertIn("Credits:          200 ", self.show("Member"))
        self.assertIn("Credits:          10 ", self.show("Old Visitor"))

        out = self.run_ok("purge")
        self.assertIn("removed Old Visitor", out)
        self.assertIn("1 account removed", out)
        self.assertEqual(self.host.run("user", "show", "Old Visitor").returncode, 1)
        self.assertEqual(record_keys(self.host, "krvcred.dat"), ["Member", "Recent Visitor"])
        self.assertEqual(record_keys(self.host, "ACCBB.DAT"), ["Member", "Recent Visitor", "Sysop"])


if __name__ == "__main__":
    unittest.main()
