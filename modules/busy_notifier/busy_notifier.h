// The Busy Notifier's option and message numbers in krvbsynt.mcv.
#ifndef BBS_BUSY_NOTIFIER_H
#define BBS_BUSY_NOTIFIER_H

// Options, read once at start-up.
constexpr int BSY_KEY = 2;               // text: who may use the command and sees the log-on notice
constexpr int BSY_COMMAND = 4;           // text: the command word
constexpr int BSY_STATUS_WORD = 5;       // text: second word of the status query
constexpr int BSY_BEEP = 6;              // yes/no: a bell ahead of each notice the timer sends
constexpr int BSY_CHECK_SECONDS = 7;     // number 1..10: seconds between two checks

// Messages.
constexpr int BSY_LOGON_NOTICE = 9;      // the version, the command word, the status word
constexpr int BSY_STATUS_HEAD = 10;      // the command word twice, the status word
constexpr int BSY_STATUS_TARGET = 11;    // the command word, the user waited for or "<Nobody>"
constexpr int BSY_NO_SUCH_USER = 12;     // the name as typed
constexpr int BSY_TARGET_GONE = 13;      // the user waited for
constexpr int BSY_TARGET_FREE = 14;      // the user-ID
constexpr int BSY_NO_KEY = 15;           // the caller's class
constexpr int BSY_WILL_NOTIFY = 16;      // the user-ID
constexpr int BSY_AMBIGUOUS = 17;        // the name as typed, the command word
constexpr int BSY_NOTHING_PENDING = 18;  // none
constexpr int BSY_CANCELLED = 19;        // the user no longer waited for

constexpr int BSY_CHECK_SECONDS_MIN = 1;
constexpr int BSY_CHECK_SECONDS_MAX = 10;

#endif
