// Naming another user in a global command: the words of the name are joined
// back into one text, then looked up among the users on-line.
#ifndef BBS_USER_LOOKUP_H
#define BBS_USER_LOOKUP_H

#include "host.h"

// The buffer join_words fills and find_online_user reads and rewrites.
constexpr int JOINED_TEXT_SIZE = 256;

// Results of find_online_user.
constexpr int USER_NOT_FOUND = 0;  // nobody matches; the text is unchanged
constexpr int USER_FOUND = 1;      // the text now holds that user's user-ID
constexpr int USER_AMBIGUOUS = 2;  // the text begins two user-IDs; unchanged

// Fills `text` (JOINED_TEXT_SIZE bytes) with the parsed words `first` to
// `last` of the current input line, one blank between each two; with `last`
// below `first`, word `first` alone. Only words that exist are taken (0 to
// margc - 1): a `first` outside them gives the empty text, a `last` past them
// stops at the last word. A join longer than JOINED_TEXT_SIZE - 1 characters
// is cut there.
void join_words(char *text, int first, int last);

// Looks `text` up among the users on-line, channel 0 upwards: the first user
// whose user-ID equals the text (sameas) is found at once; otherwise a text
// that begins exactly one user-ID (sameto) finds that user, and the scan
// gives up as ambiguous on reaching a second user-ID that the text begins.
// So an exact match counts only when no two partial matches come before it.
// Lines that are hidden (SESSION_HIDDEN) or not signed on (session_class
// below 4) are passed over; the user's own line is not. On USER_FOUND the
// text is replaced by the user-ID as the account stores it. Leaves othusn,
// othusp and othuap changed; callers point them at the user with onsys.
int find_online_user(char *text);

#endif
