// The Clock's option and message numbers in krvclock.mcv.
#ifndef BBS_CLOCK_H
#define BBS_CLOCK_H

#include <cstddef>

// Options, read once at start-up.
constexpr int CLOCK_KEY = 2;           // text: who may set the time and sees the log-on notice
constexpr int CLOCK_COMMAND = 4;       // text: the command word

// Messages.
constexpr int CLOCK_LOGON_NOTICE = 6;  // the version, the command word
constexpr int CLOCK_NO_ACCESS = 7;     // none
constexpr int CLOCK_USAGE = 8;         // the command word
constexpr int CLOCK_BAD_TIME = 9;      // the time as typed
constexpr int CLOCK_TIME_SET = 10;     // the time as typed

// The longest time text handed to dctime ("HH:MM:SS" and one more).
constexpr size_t CLOCK_TIME_TEXT_MAX = 9;

#endif
