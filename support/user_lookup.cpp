// Joining words back into a name and finding that name on-line.
#include "user_lookup.h"

#include <cstring>

namespace {

// A session the lookups may find: signed on and not hidden from them.
bool is_eligible(const session_record *session) {
    return (session->session_flags & SESSION_HIDDEN) == 0 && session->session_class >= 4;
}

// Copies a user-ID field; the field is read no further than its own size,
// so an account record without a terminator cannot run the copy on.
void copy_user_id(char *destination, const char *user_id) {
    const size_t length = strnlen(user_id, UIDSIZ - 1);
    memcpy(destination, user_id, length);
    destination[length] = '\0';
}

}  // namespace

// margv holds only margc words (and never more than MAX_ARGS): indexes past
// them are stale or empty, so they are not read.
void join_words(char *text, int first, int last) {
    text[0] = '\0';
    const int word_count = margc < MAX_ARGS ? margc : MAX_ARGS;
    if (first < 0 || first >= word_count) return;
    if (last < first) last = first;
    if (last >= word_count) last = word_count - 1;
    size_t length = 0;
    const size_t limit = JOINED_TEXT_SIZE - 1;
    auto append = [&](const char *piece) {
        const size_t room = limit - length;
        const size_t taken = strnlen(piece, room);
        memcpy(text + length, piece, taken);
        length += taken;
    };
    for (int i = first; i <= last && length < limit; ++i) {
        if (i > first) append(" ");
        if (margv[i] != nullptr) append(margv[i]);
    }
    text[length] = '\0';
}

int find_online_user(char *text) {
    char kept[32];
    int count = 0;
    for (othusn = 0; othusn < nterms; ++othusn) {
        othusp = usroff(othusn);
        othuap = uacoff(othusn);
        if (!is_eligible(othusp)) continue;
        if (sameas(text, othuap->user_id)) {
            copy_user_id(text, othuap->user_id);
            return USER_FOUND;
        }
        if (sameto(text, othuap->user_id)) {
            if (count != 0) return USER_AMBIGUOUS;
            copy_user_id(kept, othuap->user_id);
            count = 1;
        }
    }
    if (count == 1) copy_user_id(text, kept);
    return count;
}
