// Call Back's option and message numbers in krvcalbk.mcv, and its record.
#ifndef BBS_CALL_BACK_H
#define BBS_CALL_BACK_H

#include <cstdint>

#include "host.h"

// Options, read once at start-up.
constexpr int CB_EXEMPT_KEY = 2;       // text: holders of this key never wait
constexpr int CB_DELAY_SECONDS = 4;    // number 0..7200: the wait after a hang-up
constexpr int CB_USE_TIME_WINDOW = 5;  // yes/no: wait only inside the window of 10 and 11
constexpr int CB_USE_MIN_USERS = 6;    // yes/no: wait only while option 7 users are on the range
constexpr int CB_MIN_USERS = 7;        // number 0..255
constexpr int CB_FIRST_CHANNEL = 8;    // hex 0..FF: first hardware channel of the range
constexpr int CB_LAST_CHANNEL = 9;     // hex 0..FF: last hardware channel of the range
constexpr int CB_WINDOW_START = 10;    // text, a time of day
constexpr int CB_WINDOW_END = 11;      // text, a time of day
constexpr int CB_AUDIT = 12;           // yes/no: an audit entry for each refused log-on

// Messages.
constexpr int CB_WAIT_UNTIL = 14;      // date text, time text of the end of the wait
constexpr int CB_GOODBYE = 15;         // date text of today, time text of now

constexpr int CB_MAX_DELAY_SECONDS = 7200;

// The record of krvcalbk.dat: the latest hang-up of one user-ID.
struct hangup_record {
    char user_id[UIDSIZ];   // key 0: copied from the account record
    uint16_t hangup_date;   // packed date, from today()
    uint16_t hangup_time;   // packed time, from now()
};
static_assert(sizeof(hangup_record) == 34, "krvcalbk.dat holds 34-byte records");
static_assert(offsetof(hangup_record, hangup_date) == 30, "the hang-up date stands at 30");
static_assert(offsetof(hangup_record, hangup_time) == 32, "the hang-up time stands at 32");

#endif
