"""A caller's road through a real bbshost with Debian's telnet client: sign
up, log on, a module, a global command, mail with a receipt, log off, failed
log-ons, and the operator's shutdown."""

import re
import unittest

import pexpect

from bbsrun import Host


def menu(child):
    child.expect("Your choice: ")


def log_on(host, user_id, password):
    c = host.telnet()
    c.sendline(user_id)
    c.expect("Password: ")
    c.sendline(password)
    return c


def log_off(c, user_id):
    c.sendline("G")
    c.expect(f"Goodbye, {user_id}")
    c.expect(pexpect.EOF)


class Road(unittest.TestCase):
    def setUp(self):
        self.host = Host(options={"krvtsta.mcv": {3: "0"}}).start()

    def tearDown(self):
        self.host.cleanup()

    def sign_up(self, user_id, password, rows=24, columns=80):
        c = self.host.telnet(rows=rows, columns=columns)
        c.sendline("NEW")
        c.expect("Choose a user-ID")
        c.sendline(user_id)
        c.expect("Choose a password")
        c.sendline(password)
        c.expect("Type it again: ")
        self.assertNotIn(password, c.before)  # not echoed
        c.sendline(password)
        c.expect(f"Welcome, {user_id}!")
        menu(c)
        return c

    def test_sign_up_module_global_command_mail_and_log_off(self):
        bob = self.sign_up("Bob", "bobpass")
        log_off(bob, "Bob")

        alice = self.sign_up("Alice Smith", "alicepw", rows=40, columns=100)
        self.assertIn("Test plug-in A", alice.before)
        alice.sendline("1")                                  # enter the module by number
        alice.expect("You are in the test plug-in.")
        alice.sendline("hello there")
        alice.expect("You said: hello there")
        alice.sendline("testa one two")                      # a global command inside a module
        alice.expect("The command had 3 words.")
        alice.sendline("still here")
        alice.expect("You said: still here")                 # ...and the caller is still in it
        alice.sendline("quit")
        menu(alice)
        alice.sendline("test plug")                          # entered by name
        alice.expect("You are in the test plug-in.")
        alice.sendline("quit")
        menu(alice)
        alice.sendline("testa mail Bob Greetings")
        alice.expect(r"\[mail sent\]")
        alice.sendline("W")
        alice.expect("Alice Smith")
        menu(alice)
        log_off(alice, "Alice Smith")
        shown = self.host.run("user", "show", "Alice Smith").stdout
        self.assertIn("100 columns, 40 lines", shown)          # her telnet window, told by NAWS

        bob = log_on(self.host, "Bob", "bobpass")
        bob.expect("You have 1 unread mail")
        menu(bob)
        bob.sendline("M")
        bob.expect(r"Q to go back: ")
        self.assertRegex(bob.before, r"1 \* Alice Smith\s+Greetings")
        bob.sendline("1")
        bob.expect("receipt requested")
        bob.expect("A test mail.")
        bob.expect(r"Q to go back: ")
        bob.sendline("D 1")
        bob.expect("Deleted.")
        bob.expect(r"\(none\)")
        bob.sendline("Q")
        menu(bob)
        log_off(bob, "Bob")

        alice = log_on(self.host, "Alice Smith", "alicepw")  # the receipt came back to the sender
        alice.expect("You have 1 unread mail")
        menu(alice)
        alice.sendline("M")
        alice.expect("Receipt: Greetings")
        alice.sendline("1")
        alice.expect('Bob read your message "Greetings"')
        alice.expect(r"Q to go back: ")
        alice.sendline("Q")
        menu(alice)
        log_off(alice, "Alice Smith")
        self.assertIn("NEW USER", self.host.audit())

    def test_three_wrong_passwords_end_the_call(self):
        self.sign_up("Carol", "carolpw").close()
        c = self.host.telnet()
        for _ in range(3):
            c.sendline("Carol")
            c.expect("Password: ")
            c.sendline("wrong")
            c.expect("Wrong password.")
        c.expect("Too many failed tries")
        c.expect(pexpect.EOF)
        self.assertIn("LOG-ON FAILED", self.host.audit())
        self.assertTrue(self.host.alive())

    def test_shutdown_tells_callers_and_runs_the_routines(self):
        c = self.sign_up("Dave", "davepw1")
        console = self.host.console()
        self.assertIn(f"BBS directory: {self.host.dir}\n", console)
        self.assertRegex(console, r"1 KRVTSTA\s+loaded")
        self.assertIn("Password check, first called first: KRVTSTA -> host", console)
        self.assertIn(f"127.0.0.1:{self.host.port}", console)
        second = self.host.run("serve")                     # one host per BBS directory
        self.assertEqual(second.returncode, 1)
        self.assertIn("being served", second.stderr)
        self.assertEqual(self.host.stop(), 0)
        c.expect("shutting down")
        c.expect(pexpect.EOF)
        audit = self.host.audit()
        self.assertRegex(audit, r"TEST HANGUP[\s\S]*KRVTSTA Dave")
        self.assertIn("TEST SHUTDOWN", audit)
        self.assertIn("TEST SHUTDOWN", self.host.console())  # audit entries reach the console as written


if __name__ == "__main__":
    unittest.main()
