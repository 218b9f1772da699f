// Free Line's option and message numbers in krvfreln.mcv.
#ifndef BBS_FREE_LINE_H
#define BBS_FREE_LINE_H

// Options, read once at start-up.
constexpr int FL_EXEMPT_KEY = 2;       // text: holders of this key are never chosen
constexpr int FL_SPARE_LINES = 4;      // number 0..255: act when no more lines than this are free
constexpr int FL_CHECK_SECONDS = 5;    // number 20..300: seconds between two counts
constexpr int FL_FIRST_CHANNEL = 6;    // hex 0..FF: first hardware channel of the range
constexpr int FL_LAST_CHANNEL = 7;     // hex 0..FF: last hardware channel of the range
constexpr int FL_WARNING_SECONDS = 8;  // number 10..120: seconds from the warning to the cut
constexpr int FL_BELL = 9;             // yes/no: a bell ahead of the warning
constexpr int FL_AUDIT_WARNING = 10;   // yes/no: audit entry for each warning
constexpr int FL_AUDIT_BUMP = 11;      // yes/no: audit entry for each disconnection

// Messages.
constexpr int FL_WARNING = 13;         // the seconds of FL_WARNING_SECONDS

constexpr int FL_SPARE_LINES_MIN = 0, FL_SPARE_LINES_MAX = 255;
constexpr int FL_CHECK_SECONDS_MIN = 20, FL_CHECK_SECONDS_MAX = 300;
constexpr unsigned FL_CHANNEL_MIN = 0, FL_CHANNEL_MAX = 255;
constexpr int FL_WARNING_SECONDS_MIN = 10, FL_WARNING_SECONDS_MAX = 120;

#endif
