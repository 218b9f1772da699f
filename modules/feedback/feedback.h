// The Feedback module's option and message numbers in KRVFBK.MCV, and the
// layout of its part of a line's volatile data area.
#ifndef BBS_FEEDBACK_H
#define BBS_FEEDBACK_H

#include <cstddef>

// Options, read once at start-up.
constexpr int FEEDBACK_KEY = 2;        // text: who may write feedback
constexpr int FEEDBACK_RECIPIENT = 4;  // text: the user-ID every message goes to

// Messages.
constexpr int FEEDBACK_INTRO = 6;      // none
constexpr int FEEDBACK_NO_ACCESS = 7;  // the caller's class name
constexpr int FEEDBACK_SENT = 8;       // the caller's user-ID
constexpr int FEEDBACK_MENU = 9;       // none
constexpr int FEEDBACK_YES_NO = 10;    // none
constexpr int FEEDBACK_NOT_SENT = 11;  // none: the mail store refused the message

// module_substate values.
constexpr int FEEDBACK_ENTERING = 0;
constexpr int FEEDBACK_AT_MENU = 1;
constexpr int FEEDBACK_WRITING = 2;    // passed through within one call
constexpr int FEEDBACK_RECEIPT = 3;    // in the editor, then the receipt question

// The line's volatile data area: what the editor fills.
constexpr int FEEDBACK_TEXT_SIZE = 1921;
constexpr int FEEDBACK_TOPIC_SIZE = 51;
struct feedback_area {
    char feedback_text[FEEDBACK_TEXT_SIZE];    // 0
    char feedback_topic[FEEDBACK_TOPIC_SIZE];  // 1921
};
static_assert(offsetof(feedback_area, feedback_topic) == 1921, "the topic follows the text");
static_assert(sizeof(feedback_area) == 1972, "the area is 1972 bytes");

// Room the mail text leaves in the host's output buffer.
constexpr int FEEDBACK_OUTPUT_RESERVE = 385;

#endif
