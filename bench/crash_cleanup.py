#!/usr/bin/python3
"""Crash test of the daily clean-up (not part of the tests; run by hand).

Makes a BBS directory with many accounts (accounts_bench --make: half of them
in classes the Credit allots to, a third old DEMO accounts the Demo Clean
tags), sets the BBS's clock to the allotment day with yesterday's clean-up
missed, and serves it with bbshost: the missed clean-up runs at start-up.
The host is killed with SIGKILL at chosen moments of the Credit's pass (by
time, the pass being timed alone first), of the Demo Clean's pass (by the
number of its audit entries on the console: how far it has come) and of the
commit, started again each time, and finally let finish.
Then every account is compared byte for byte with its state before: each
allotted account got its allotment exactly once, each old DEMO account is
tagged, nothing else changed; each credit record is checked; the files pass
SQLite's integrity check.

  bench/crash_cleanup.py [--accounts N] [--bin build/bin] [--keep]
"""

import argparse
import os
import shutil
import signal
import socket
import sqlite3
import struct
import subprocess
import sys
import tempfile
import time

TODAY = (2026, 3, 5)          # the allotment day of accounts_bench's BBS
ALLOTMENT = {"USER": 100, "PREMIUM": 500}
MIN_AGE_DAYS = 30


def packed(y, m, d):
    return ((y - 1980) << 9) | (m << 5) | d


def day_number(p):
    import datetime
    return datetime.date(1980 + (p >> 9), (p >> 5) & 15, p & 31).toordinal()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def set_blobs(bbs_dir):
    """The BBS's clock at noon on the allotment day (the host keeps an offset
    to the machine's clock), and its last clean-up two days before."""
    t = time.time()
    machine_local = t + time.localtime(t).tm_gmtoff
    wanted = time.mktime((*TODAY, 12, 0, 0, 0, 0, -1))
    wanted_local = wanted + time.localtime(wanted).tm_gmtoff
    sv2 = bytearray(256)
    struct.pack_into("<H", sv2, 228, packed(TODAY[0], TODAY[1], TODAY[2] - 2))
    db = sqlite3.connect(os.path.join(bbs_dir, "BBSHOST.DB"))
    with db:
        db.execute("INSERT OR REPLACE INTO host_blobs(name, value) VALUES('clock_offset', ?)",
                   (struct.pack("<q", int(wanted_local - machine_local)),))
        db.execute("INSERT OR REPLACE INTO host_blobs(name, value) VALUES('sv2', ?)", (bytes(sv2),))
    db.close()


TAGGED = "KRV Demo Clean Kill Tagged"


class Serving:
    """bbshost serving the directory, its console read as it grows."""

    def __init__(self, bbshost, bbs_dir, log):
        self.log_path = log
        self.log = open(log, "w")
        self.proc = subprocess.Popen([bbshost, "-d", bbs_dir, "serve"], stdout=self.log,
                                     stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        self.reader = open(log, errors="replace")
        self.tail = ""
        self.tagged = 0      # the Demo Clean's audit entries so far
        self.markers = set()

    def poll(self):
        chunk = self.reader.read()
        if not chunk:
            return
        text = self.tail + chunk
        self.tagged += text.count(TAGGED) - self.tail.count(TAGGED)
        for marker in ("DAILY CLEAN-UP", "Listening on"):
            if marker in text:
                self.markers.add(marker)
        self.tail = text[-64:]

    def console(self):
        with open(self.log_path, errors="replace") as f:
            return f.read()

    def wait(self, done, what, timeout=900):
        end = time.time() + timeout
        while time.time() < end:
            self.poll()
            if done():
                return time.monotonic()
            if self.proc.poll() is not None:
                raise SystemExit(f"bbshost exited ({self.proc.returncode}):\n{self.console()[-3000:]}")
            time.sleep(0.002)
        raise SystemExit(f"{what} not seen within {timeout} s:\n{self.console()[-3000:]}")

    def wait_for(self, marker, timeout=900):
        return self.wait(lambda: marker in self.markers, repr(marker), timeout)

    def kill(self):
        self.proc.send_signal(signal.SIGKILL)
        self.proc.wait()
        self.poll()
        self.log.close()
        self.reader.close()

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(300)
        self.log.close()
        self.reader.close()
        return self.proc.returncode


def cleanup_seconds(bbshost, bbs_dir, log):
    """How long the clean-up of a copy of the directory takes, from its audit
    entry to the host's listening."""
    s = Serving(bbshost, bbs_dir, log)
    began = s.wait_for("DAILY CLEAN-UP")
    ended = s.wait_for("Listening on")
    s.stop()
    return ended - began


def counts(bbs_dir):
    acc = sqlite3.connect(os.path.join(bbs_dir, "ACCBB.DAT"))
    # Bit 0x0008 of account_flags: the low hexadecimal digit of its first byte is 8 to F.
    tagged = acc.execute("SELECT count(*) FROM records"
                         " WHERE instr('89ABCDEF', substr(hex(substr(record, 221, 1)), 2, 1)) > 0").fetchone()[0]
    ok = [acc.execute("PRAGMA integrity_check").fetchone()[0]]
    acc.close()
    credit_path = os.path.join(bbs_dir, "krvcred.dat")
    credits = 0
    if os.path.exists(credit_path):
        cred = sqlite3.connect(credit_path)
        credits = cred.execute("SELECT count(*) FROM records").fetchone()[0]
        ok.append(cred.execute("PRAGMA integrity_check").fetchone()[0])
        cred.close()
    host = sqlite3.connect(os.path.join(bbs_dir, "BBSHOST.DB"))
    ok.append(host.execute("PRAGMA integrity_check").fetchone()[0])
    sv2 = host.execute("SELECT value FROM host_blobs WHERE name = 'sv2'").fetchone()[0]
    host.close()
    cleanup_date = struct.unpack_from("<H", sv2, 228)[0]
    return credits, tagged, all(o == "ok" for o in ok), cleanup_date


def verify(bbs_dir, pristine_path):
    """Every account against its state before the clean-up; every credit
    record. Returns a list of faults (empty when all is well) and figures."""
    faults = []
    today = packed(*TODAY)
    before = sqlite3.connect(pristine_path)
    after = sqlite3.connect(os.path.join(bbs_dir, "ACCBB.DAT"))
    cred = sqlite3.connect(os.path.join(bbs_dir, "krvcred.dat"))
    credit = {k.lower(): (k, r) for k, r in cred.execute("SELECT key, record FROM records")}
    rows_after = after.execute("SELECT seq, key, record FROM records ORDER BY seq")
    allotted = tagged = checked = 0
    for (seq, key, old), row in zip(before.execute("SELECT seq, key, record FROM records ORDER BY seq"),
                                   rows_after):
        checked += 1
        if row[0] != seq or row[1] != key:
            faults.append(f"record {seq} ({key}) became {row[0]} ({row[1]})")
            continue
        new = bytearray(old)
        cls = old[256:280].split(b"\0")[0].decode()
        account_date, flags = struct.unpack_from("<HH", old, 216)
        balance, posted, retained = struct.unpack_from("<iii", old, 280)
        if cls in ALLOTMENT:
            a = ALLOTMENT[cls]
            struct.pack_into("<ii", new, 280, balance + a, posted + a)
            allotted += 1
            got = credit.pop(key.lower(), None)
            if got is None:
                faults.append(f"{key}: no credit record")
            else:
                want = bytearray(48)
                want[0:30] = old[0:30]
                struct.pack_into("<iiii", want, 32, retained, posted + a, 0, a)
                if got[1] != bytes(want) or got[0] != key:
                    faults.append(f"{key}: credit record {got[1].hex()} is not {want.hex()}")
        elif cls == "DEMO" and account_date <= today and day_number(today) - day_number(account_date) >= MIN_AGE_DAYS:
            struct.pack_into("<H", new, 220, flags | 0x0008)
            tagged += 1
        if row[2] != bytes(new):
            faults.append(f"{key}: account is not as it should be after one clean-up")
        if len(faults) > 20:
            break
    if next(rows_after, None) is not None:
        faults.append("more accounts after than before")
    if credit:
        faults.append(f"{len(credit)} credit records of no allotted account")
    for db in (before, after, cred):
        db.close()
    return faults, checked, allotted, tagged


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--accounts", type=int, default=100000)
    p.add_argument("--bin", default=os.path.join(here, "..", "build", "bin"))
    p.add_argument("--keep", action="store_true")
    p.add_argument("--points", default="0.1,0.5,0.9",
                   help="moments within each pass to kill at, as fractions of its length")
    args = p.parse_args()
    bbshost = os.path.join(args.bin, "bbshost")
    bench = os.path.join(args.bin, "accounts_bench")
    root = tempfile.mkdtemp(prefix="crash_cleanup.")
    bbs_dir = os.path.join(root, "bbs")
    subprocess.run([bench, "--make", bbs_dir, str(args.accounts), str(free_port())], check=True,
                   stdout=subprocess.DEVNULL)
    set_blobs(bbs_dir)
    pristine = os.path.join(root, "ACCBB.before")
    shutil.copy(os.path.join(bbs_dir, "ACCBB.DAT"), pristine)

    # The Demo Clean writes an audit entry for each account it tags: the
    # console shows how far its pass has come. The Credit's pass shows
    # nothing; how long it takes is measured on a copy with the Credit alone.
    path = os.path.join(bbs_dir, "krvdmcln.mcv")
    with open(path) as f:
        options = [("5 DMCLN_AUDIT yesno \"Write an audit entry for each tagged account\" = yes\n"
                    if l.startswith("5 ") else l) for l in f]
    with open(path, "w") as f:
        f.writelines(options)
    copy = os.path.join(root, "calibrate")
    shutil.copytree(bbs_dir, copy)
    with open(os.path.join(copy, "WGSERV.CFG")) as f:
        cfg = [l for l in f if not l.startswith("DLL=KRVDMCLN")]
    with open(os.path.join(copy, "WGSERV.CFG"), "w") as f:
        f.writelines(cfg)
    credit_s = cleanup_seconds(bbshost, copy, os.path.join(root, "calibrate.txt"))
    shutil.rmtree(copy)
    to_tag = sum(1 for i in range(args.accounts) if i % 6 in (1, 3))
    print(f"{args.accounts} accounts in {bbs_dir}; the Credit's pass took {credit_s:.2f} s alone; "
          f"{to_tag} accounts to tag")

    points = [float(x) for x in args.points.split(",")]
    # (what, seconds after the clean-up began, or tagged entries seen, and a delay after them)
    # The Credit's pass is timed on its own; its length varies from run to
    # run, so its kills come a little earlier than the fractions say.
    plan = [("Credit", 0.8 * f * credit_s, None, 0) for f in points]
    plan += [("Demo Clean", None, max(1, int(f * to_tag)), 0) for f in points]
    plan += [("commit", None, to_tag, d) for d in (0.0, 0.05, 0.2, 1.0)]
    print(f"{'kill':>4}  {'planned':<34} {'seen at the kill':<20} {'credit records':>14} {'tagged':>7} "
          f"{'files':>5} {'clean-up':>8}  journals left by the kill")
    for n, (where, after_s, after_tags, delay) in enumerate(plan, 1):
        s = Serving(bbshost, bbs_dir, os.path.join(root, f"kill-{n}.txt"))
        s.wait(lambda: s.markers & {"DAILY CLEAN-UP", "Listening on"}, "the clean-up or the listening host")
        if "DAILY CLEAN-UP" not in s.markers:
            s.stop()
            print(f"{n:>4}  the clean-up is done: no more kills")
            break
        began = time.monotonic()
        if after_s is not None:
            planned = f"{where}, {after_s:.2f} s in"
            s.wait(lambda: time.monotonic() - began >= after_s or "Listening on" in s.markers, "the moment")
        else:
            planned = (f"{where}, {after_tags} tagged" if where == "Demo Clean"
                       else f"{where}, {delay} s after the walks")
            s.wait(lambda: s.tagged >= after_tags or "Listening on" in s.markers, "the tagged entries")
            time.sleep(delay)
        at = time.monotonic() - began
        s.kill()
        seen = "host had finished" if "Listening on" in s.markers else f"{at:.2f} s, {s.tagged} tagged"
        # A journal left behind: the kill cut a write transaction short (the
        # next opening of the file rolls it back).
        journals = sorted(f.split("-")[0] if "-journal" in f else "super-journal"
                          for f in os.listdir(bbs_dir) if "-journal" in f or "-mj" in f)
        credits, tagged, ok, date = counts(bbs_dir)
        state = "done" if date == packed(*TODAY) else "due"
        print(f"{n:>4}  {planned:<34} {seen:<20} {credits:>14} {tagged:>7} {'ok' if ok else 'BAD':>5} "
              f"{state:>8}  {', '.join(journals) or '-'}")
        if not ok:
            raise SystemExit("a file is damaged")

    s = Serving(bbshost, bbs_dir, os.path.join(root, "final.txt"))
    s.wait_for("Listening on")
    if s.stop() != 0:
        raise SystemExit("bbshost did not stop cleanly")
    # Once more: the clean-up ran today, so a start changes nothing.
    s = Serving(bbshost, bbs_dir, os.path.join(root, "again.txt"))
    s.wait_for("Listening on")
    s.stop()
    credits, tagged, ok, date = counts(bbs_dir)
    faults, checked, allotted, should_tag = verify(bbs_dir, pristine)
    leftovers = [f for f in os.listdir(bbs_dir) if "-journal" in f or "-mj" in f]
    print(f"after the last start: {checked} accounts checked byte for byte, {allotted} allotted once "
          f"({credits} credit records), {should_tag} tagged ({tagged} with the bit), files "
          f"{'ok' if ok else 'DAMAGED'}, clean-up date {'today' if date == packed(*TODAY) else 'NOT today'}, "
          f"journals left: {leftovers or 'none'}")
    for f in faults:
        print("FAULT:", f)
    if args.keep:
        print("kept in", root)
    else:
        shutil.rmtree(root)
    sys.exit(1 if faults or not ok or leftovers or date != packed(*TODAY) else 0)


if __name__ == "__main__":
    main()
