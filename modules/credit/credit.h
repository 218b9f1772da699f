// The Credit's option numbers in krvcred.mcv and its record in krvcred.dat.
#ifndef BBS_CREDIT_H
#define BBS_CREDIT_H

#include <cstddef>
#include <cstdint>

#include "host.h"

// Options, read once at start-up. The module shows no messages.
constexpr int CRED_PSEUDO_KEY = 2;     // text: the pseudo-key answered by the credit test
constexpr int CRED_CLASS_1 = 4;        // texts 4..8: the classes given an allotment
constexpr int CRED_ALLOTMENT_1 = 9;    // longs 9..13: their monthly credits, in the same order
constexpr int CRED_ALLOTMENT_DAY = 14; // number 1..28: the day of the month of the allotment

constexpr int CRED_CLASSES = 5;
constexpr long CRED_MAX_ALLOTMENT = 1000000;
constexpr int CRED_FIRST_DAY = 1;
constexpr int CRED_LAST_DAY = 28;

// One record of krvcred.dat per user who has had an allotment; key 0 is the
// user-ID.
struct credit_record {
    char user_id[UIDSIZ];    // 0
    char reserved_a[2];      // 30
    int32_t last_retained;   // 32: the account's retained credits at the last allotment
    int32_t posted_total;    // 36: credits posted, as the allotments and cuts left it
    int32_t reserved_b;      // 40: written as 0
    int32_t allotted_total;  // 44: every allotment the user was given
};

static_assert(offsetof(credit_record, last_retained) == 32);
static_assert(offsetof(credit_record, posted_total) == 36);
static_assert(offsetof(credit_record, reserved_b) == 40);
static_assert(offsetof(credit_record, allotted_total) == 44);
static_assert(sizeof(credit_record) == 48, "a credit record is 48 bytes");

#endif
