"""The File Viewer in a real bbshost: a caller on Debian's telnet in an
80 x 24 window pages through the demo's long text and searches it, pages
fitting his window; a caller who names a file outside the board's files is
told it does not open, and the operator sees the attempt in the audit
trail."""

import re
import unittest

from bbsrun import Host

PROMPT = r"exit: "


def page_lines(text):
    """The lines of a page as the caller saw it, from what came before the
    prompt: the echo of the command, the header's line and the line end that
    starts the prompt dropped."""
    return text.replace("\r\n", "\n").split("\n")[2:-1]


class FileViewer(unittest.TestCase):
    def setUp(self):
        self.host = Host(dlls=("KRVFV",))

    def tearDown(self):
        self.host.cleanup()

    def test_a_caller_pages_through_a_long_text_and_searches_it(self):
        # The account remembers a small screen: the pages must follow the
        # window the caller's telnet reports instead.
        for field, value in (("screen-width", "40"), ("screen-length", "12")):
            r = self.host.run("user", "set", "Sysop", field, value)
            self.assertEqual(r.returncode, 0, r.stderr)
        self.host.start()
        c = self.host.telnet(rows=24, columns=80)
        c.sendline("Sysop")
        c.expect("Password: ")
        c.sendline(self.host.sysop_password)
        c.expect("Your choice: ")
        c.sendline("file")
        c.expect("File name: ")
        c.sendline("files/NUMBERS.TXT")
        c.expect(r"More: N\)ext  K\) search  X\) " + PROMPT)
        first = c.before
        self.assertIn("THE NUMBER BOOK", first)
        self.assertIn("    7  seven: prime", first)
        self.assertNotIn("    8  eight", first)

        c.sendline("n")
        c.expect(r"More: N\)ext  P\)revious  K\) search  X\) " + PROMPT)
        lines = page_lines(c.before)
        numbered = [l for l in lines if re.match(r"^ +\d+  ", l)]
        # 78 x 21 for an 80 x 24 window: the page's first line is the line
        # end it stopped at, then twenty numbers, and it fits the window.
        self.assertEqual([int(l.split()[0]) for l in numbered], list(range(8, 28)))
        self.assertEqual(len(lines), 21)
        self.assertLessEqual(max(len(l) for l in lines), 77)

        c.sendline("p")
        c.expect(PROMPT)
        self.assertIn("THE NUMBER BOOK", c.before)

        # Forward to a number near the end: the pages between are not shown.
        c.sendline("k")
        c.expect("Enter alone cancels.")
        c.sendline("5987")
        c.expect(r"B\)ackward \(Enter cancels\)\? ")
        c.sendline("f")
        c.expect(r"More: N\)ext  P\)revious  K\) search  X\) " + PROMPT, timeout=20)
        self.assertIn(" 5987  five thousand nine hundred eighty-seven: prime", c.before)
        self.assertEqual(c.before.count("five thousand"), 20)

        # Backward for a word: the nearest earlier page that holds it.
        c.sendline("k")
        c.expect("Enter alone cancels.")
        c.sendline("perfect")
        c.expect(r"\? ")
        c.sendline("b")
        c.expect(PROMPT, timeout=20)
        self.assertIn("  496  four hundred ninety-six: 2^4 x 31; perfect", c.before)
        # Enter goes on backward, to the page of 28.
        c.sendline("")
        c.expect(PROMPT, timeout=20)
        self.assertIn("   28  twenty-eight: 2^2 x 7; perfect", c.before)

        c.sendline("x")
        c.expect("Your choice: ")
        c.sendline("G")
        c.expect("Goodbye")

    def test_a_name_outside_the_boards_files_does_not_open_and_is_audited(self):
        self.host.start()
        caller = self.host.raw()
        caller.log_on("Sysop", self.host.sysop_password)
        for name in ("/etc/passwd", "../WGSERV.CFG", "ACCBB.DAT", "files/NONE.TXT"):
            caller.line("1")
            caller.expect("File name: ")
            caller.line(name)
            caller.expect(f"Error opening {name}.")
            caller.expect("Your choice: ")
        caller.line("1")
        caller.line("files/RULES.TXT")                    # CR LF line ends: one page
        page = caller.expect("End of the file: K) search  X) exit: ")
        self.assertIn("1. Be civil.", page)
        caller.line("x")
        caller.expect("Your choice: ")
        audit = self.host.audit()
        for name in ("/etc/passwd", "../WGSERV.CFG", "ACCBB.DAT"):
            self.assertIn(f"KRV File Viewer REFUSED\n                   User-ID: Sysop, File: {name}\n", audit)
        self.assertNotIn("NONE.TXT", audit)


if __name__ == "__main__":
    unittest.main()
