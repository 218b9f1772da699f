"""The Announcer, the Clock and Feedback in a real bbshost, for callers on
telnet: the notice reaches a guest and spares a member, the Sysop sets the
board's time of day, a member writes feedback that the Sysop finds in his
mailbox with its receipt flag."""

import re
import time
import unittest

from bbsrun import Host


class Notices(unittest.TestCase):
    def setUp(self):
        self.host = Host(dlls=("KRVDMPST", "KRVCLOCK", "KRVFBK"),
                         settings={"CLEANUP_TIME": "23:59"},
                         options={"krvdmpst.mcv": {3: "30"}})
        r = self.host.run("user", "add", "Member", "USER", stdin="memberpw\n")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.host.start()

    def tearDown(self):
        self.host.cleanup()

    def test_the_notice_reaches_a_guest_and_spares_a_member(self):
        guest = self.host.raw()
        guest.sign_up("Guest", "guestpw")                 # new callers are DEMO: no key
        member = self.host.raw()
        member.log_on("Member", "memberpw")
        guest.expect("You are visiting this board as a guest", 45)
        time.sleep(0.5)
        member.read_some(0.5)
        self.assertNotIn(b"visiting this board", member.text)
        self.assertIn("KRV Announcer", self.host.audit())

    def test_the_sysop_sets_the_time_and_a_member_sends_feedback_with_a_receipt(self):
        sysop = self.host.raw()
        sysop.log_on("Sysop", self.host.sysop_password)
        sysop.line("SETTIME 10:30")
        sysop.expect("The board's clock has been set to 10:30.")
        self.assertRegex(self.host.audit(), r"10:30:\d\d\s+USER CHANGED BBS TIME\s+User: Sysop, Time: 10:30")

        member = self.host.raw()
        member.log_on("Member", "memberpw")
        member.line("SETTIME 11:00")                       # only the Sysop's key may
        member.expect("Sorry, you may not set the board's clock.")
        member.line("feedback")
        member.line("F")
        member.expect("Topic")
        member.line("Lines at night")
        member.expect("/S")
        member.line("Could we have two more lines after ten?")
        member.line("Thanks.")
        member.line("/S")
        member.expect("return receipt")
        member.line("Y")
        member.expect("Thank you, Member. Your message has been sent.")

        sysop.line("M")
        box = sysop.expect("Q to go back: ")
        self.assertRegex(box, r"1 \* Member\s+Lines at night")
        sysop.line("1")
        mail = sysop.expect("Q to go back: ")
        self.assertIn("(receipt requested)", mail)
        self.assertIn("Could we have two more lines after ten?", mail)
        sent = re.search(r"Sent:\s+\S+ (\d\d):(\d\d)", mail)
        self.assertEqual(sent.group(1), "10", mail)        # the board's clock follows the new time
        sysop.line("Q")
        sysop.expect("Your choice: ")
        member.line("M")                                   # the receipt reached the member
        self.assertIn("Receipt: Lines at night", member.expect("Q to go back: "))


if __name__ == "__main__":
    unittest.main()
