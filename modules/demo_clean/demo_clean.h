// The Demo Clean's option numbers in krvdmcln.mcv.
#ifndef BBS_DEMO_CLEAN_H
#define BBS_DEMO_CLEAN_H

// Options, read once at start-up. The module shows no messages.
constexpr int DMCLN_EXEMPT_KEY = 2;    // text: accounts holding this key are never tagged
constexpr int DMCLN_MIN_AGE_DAYS = 4;  // number 7..999: days from the account's date to today
constexpr int DMCLN_AUDIT = 5;         // yes/no: an audit entry per tagged account
constexpr int DMCLN_REPORT = 6;        // yes/no: a line in the report per tagged account
constexpr int DMCLN_REPORT_NAME = 7;   // text: named in the audit entry when the report does not open

constexpr int DMCLN_FEWEST_DAYS = 7;
constexpr int DMCLN_MOST_DAYS = 999;

// The report, in the server's working directory (the BBS directory).
constexpr const char *DMCLN_REPORT_FILE = "EZECID.TXT";

#endif
