// The Announcer's option and message numbers in krvdmpst.mcv.
#ifndef BBS_ANNOUNCER_H
#define BBS_ANNOUNCER_H

// Options, read once at start-up.
constexpr int EXEMPT_KEY = 1;           // text: holders of this key never get the notice
constexpr int ANNOUNCE_INTERVAL = 3;    // number 30..3600: seconds between two passes
constexpr int RING_BELL = 4;            // yes/no: a BEL before each notice
constexpr int ANNOUNCE_EVERYWHERE = 5;  // yes/no: callers inside SPARED_MODULE get it too
constexpr int SPARED_MODULE = 6;        // text: a registered module name

// Messages.
constexpr int ANNOUNCEMENT = 8;         // the notice; no arguments

constexpr int ANNOUNCE_INTERVAL_MIN = 30;
constexpr int ANNOUNCE_INTERVAL_MAX = 3600;

#endif
