"""AFK and the Busy Notifier in a real bbshost: a member steps away (parked,
shown as busy), another asks to be told when he is free, and is told within
the Busy Notifier's check time of his return. AFK stays off the menu."""

import time
import unittest

from bbsrun import Host


class Away(unittest.TestCase):
    def setUp(self):
        self.host = Host(dlls=("KRVTSTA", "KRVBSYNT", "KRVAFK"),
                         options={"krvtsta.mcv": {3: "0"}, "krvbsynt.mcv": {7: "2"}})
        for user_id, password in (("Alice", "alicepw"), ("Watcher", "watchpw")):
            r = self.host.run("user", "add", user_id, "USER", stdin=password + "\n")
            self.assertEqual(r.returncode, 0, r.stderr)
        self.host.start()

    def tearDown(self):
        self.host.cleanup()

    def test_a_watcher_is_told_when_the_away_caller_is_back(self):
        alice = self.host.raw()
        alice.expect("User-ID")
        alice.line("Alice")
        alice.expect("Password: ")
        alice.line("alicepw")
        menu = alice.expect("Your choice: ")
        self.assertIn("AFK 1.4: type AFK when you step away", menu)
        self.assertIn("Test plug-in A", menu)
        self.assertNotIn("  AFK", menu)                  # reached by its command, not the menu

        watcher = self.host.raw()
        watcher.log_on("Watcher", "watchpw")
        alice.line("1")                                 # into the test plug-in
        alice.expect("You are in the test plug-in.")
        alice.line("AFK")
        alice.expect("You are now away from your keyboard.")
        alice.line("anything")
        alice.expect("Type AFK when you are back.")     # parked

        watcher.line("AFK alice")
        watcher.expect("Alice is away from the keyboard.")
        watcher.line("BUSY ali")
        watcher.expect("Alice is busy. You will be told")
        time.sleep(3)                                   # a check or more: still waiting
        watcher.line("BUSY STATUS")
        watcher.expect("Your BUSY request: waiting for Alice")

        alice.line("AFK")
        alice.expect("You are now at your keyboard.")
        back = time.time()
        watcher.expect("*** Alice is free now.", 5)
        self.assertLess(time.time() - back, 3.5)        # within the check time of 2 seconds
        alice.line("hello")
        alice.expect("You said: hello")                 # back in the module she left


if __name__ == "__main__":
    unittest.main()
