// The Class Change's option and message numbers in krvclscg.mcv.
#ifndef BBS_CLASS_CHANGE_H
#define BBS_CLASS_CHANGE_H

// Options, read once at start-up.
constexpr int CLS_KEY = 2;            // text: who may give the command and sees the log-on notice
constexpr int CLS_EXEMPT_KEY = 3;     // text: an account holding it is never switched
constexpr int CLS_COMMAND = 5;        // text: the command word
constexpr int CLS_TARGET_CLASS = 6;   // text: the class the command switches to
constexpr int CLS_CREDITS = 7;        // number 0..30000: credits posted with each switch

// Messages.
constexpr int CLS_LOGON_NOTICE = 9;   // the version, the command word
constexpr int CLS_NO_KEY = 10;        // none
constexpr int CLS_NO_CLASS = 11;      // CLASS
constexpr int CLS_BAD_DAYS = 12;      // CLASS, the fewest days, the most days
constexpr int CLS_EXEMPT = 13;        // the account's user-ID
constexpr int CLS_NO_SUCH_USER = 14;  // the user-ID as typed
constexpr int CLS_SWITCHED = 15;      // the user-ID, CLASS, the days, the credits
constexpr int CLS_USAGE = 16;         // CLASS, fewest and most days, the credits, the command word, CLASS

constexpr int CLS_MAX_CREDITS = 30000;
constexpr int CLS_FEWEST_DAYS = 1;
constexpr int CLS_MOST_DAYS = 90;

#endif
