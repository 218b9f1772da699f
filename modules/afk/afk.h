// AFK's option and message numbers in krvafk.mcv.
#ifndef BBS_AFK_H
#define BBS_AFK_H

// Options, read once at start-up.
constexpr int AFK_KEY = 2;            // text: who may use the command and sees the log-on notice
constexpr int AFK_COMMAND = 4;        // text: the command word
constexpr int AFK_FEED_INPUT = 5;     // yes/no: with parking, hand lines to AFK_FEED_MODULE
constexpr int AFK_FEED_MODULE = 6;    // text: the name of that module
constexpr int AFK_AWAY_INPUT = 7;     // text: the line handed to it when the caller goes away
constexpr int AFK_BACK_INPUT = 8;     // text: the line handed to it when he comes back
constexpr int AFK_PARK_USER = 9;      // yes/no: park an away caller in this module
constexpr int AFK_MODULE_NAME = 10;   // text: the name this module registers under
constexpr int AFK_SET_BUSY = 11;      // yes/no: set the busy bit while the caller is away

// Messages.
constexpr int AFK_LOGON_NOTICE = 13;  // the version, the command word
constexpr int AFK_HELP = 14;          // the command word twice, the caller's presence word
constexpr int AFK_NOW = 15;           // the new presence word
constexpr int AFK_NO_SUCH_USER = 16;  // the name as typed
constexpr int AFK_NO_KEY = 17;        // none
constexpr int AFK_AMBIGUOUS = 18;     // the name as typed, the command word
constexpr int AFK_USER_STATE = 19;    // the user-ID, that caller's presence word
constexpr int AFK_PARKED = 20;        // the command word

#endif
