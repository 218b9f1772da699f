// Fuzz target for the File Viewer's page work (libFuzzer; built and run by
// scripts/fuzz with clang++ and the address and undefined-behaviour
// sanitizers).
//
// An input is a screen, search words and a text. The text is cut into
// pages as the viewer does it, each page read into a view state that stands
// alone in an allocation of its own size, so that the sanitizer stops any
// read or write outside it; each page is then scanned for the words. Every
// page is checked: no line wider than the geometry allows, no more lines,
// the page ends where the formatter says, nothing of the view state touched
// but the page and the fields the step owns, and each page moves on.
//
// Input layout: screen width, screen length, a flag byte (bit 0: the page
// index starts above 0), the number of words (taken modulo 7), then for each
// word a length byte (modulo 41) and its bytes, then the text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "page.h"

namespace {

int same_word(const char *a, const char *b) { return strcasecmp(a, b) == 0; }

[[noreturn]] void fault(const char *what, size_t page) {
    std::fprintf(stderr, "page %zu: %s\n", page, what);
    std::abort();
}

// Bytes of the view state that a step may change: [begin, end) of the
// page text, and the fields named.
bool same_outside(const view_state &before, const view_state &after, size_t text_begin, size_t text_end,
                  bool formatter) {
    view_state a = before, b = after;
    std::memset(a.page_text + text_begin, 0, text_end - text_begin);
    std::memset(b.page_text + text_begin, 0, text_end - text_begin);
    if (formatter) {
        a.more_text = b.more_text = 0;
        a.previous_page = b.previous_page = 0;
        a.last_char = b.last_char = 0;
    } else {
        a.scan_position = b.scan_position = 0;
    }
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void check_page(const view_state &view, uint32_t stop, size_t page) {
    if (stop > view.bytes_read) fault("the page stops past the bytes read", page);
    if (view.bytes_read > 0 && stop == 0) fault("the page holds nothing: the viewer would never move on", page);
    if (stop < view.bytes_read && view.more_text != 1) fault("text follows, but more_text is clear", page);
    if (view.page_text[stop] != '\0') fault("no NUL where the page stops", page);
    uint32_t lines = 0, column = 0;
    for (uint32_t i = 0; i < stop; ++i) {
        char c = view.page_text[i];
        if (c == '\0') fault("a NUL inside the page", page);
        if (c == '\r' || c == '\f') fault("a CR or FF left on the page", page);
        if (c == '\n') {
            ++lines;
            column = 0;
        } else if (++column >= view.page_width) {
            fault("a line wider than the page", page);
        }
    }
    // The line ends of the page: at most page_length, the last of which may
    // be followed by the start of a line that goes on on the next page.
    if (lines > view.page_length) fault("more lines than the page holds", page);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 4) return 0;
    const uint8_t screen_width = data[0], screen_length = data[1], flags = data[2];
    const uint32_t word_count = data[3] % (FV_MAX_WORDS + 1);
    size_t at = 4;

    view_state *view = static_cast<view_state *>(std::malloc(sizeof(view_state)));
    std::memset(view, 0x5a, sizeof *view);  // anything the steps must leave alone
    view->text_file = nullptr;
    set_page_geometry(*view, screen_width, screen_length);
    if (view->page_width < 38 || view->page_width > 78) fault("page width outside 38..78", 0);
    if (!((view->page_length >= 3 && view->page_length <= 18) || view->page_length == 21))
        fault("page length outside 3..18 and 21", 0);
    view->word_count = word_count;
    for (uint32_t w = 0; w < word_count; ++w) {
        size_t length = at < size ? data[at++] % FV_WORD_SIZE : 0;
        if (length > size - at) length = size - at;
        std::memcpy(view->search_words[w], data + at, length);
        view->search_words[w][length] = '\0';
        at += length;
    }
    view->page_index = (flags & 1) != 0 ? 7 : 0;

    const uint8_t *text = data + at;
    const size_t text_size = size - at;
    size_t offset = 0;
    view_state *before = static_cast<view_state *>(std::malloc(sizeof(view_state)));
    for (size_t page = 0; offset < text_size || page == 0; ++page) {
        size_t chunk = text_size - offset < FV_READ_SIZE ? text_size - offset : FV_READ_SIZE;
        std::memcpy(view->page_text, text + offset, chunk);
        view->bytes_read = static_cast<uint32_t>(chunk);
        std::memcpy(before, view, sizeof *view);
        uint32_t stop = format_page(*view);
        if (!same_outside(*before, *view, 0, chunk + 1, true)) fault("the formatter wrote outside the page", page);
        check_page(*view, stop, page);
        if (chunk == 0) break;

        view->scan_position = 0;
        for (int matches = 0; matches < FV_BUFFER_SIZE; ++matches) {
            std::memcpy(before, view, sizeof *view);
            bool found = scan_page(*view, same_word);
            if (!same_outside(*before, *view, 0, 0, false)) fault("the scan wrote outside its position", page);
            if (view->scan_position < 0 || view->scan_position > FV_READ_SIZE) fault("scan position outside the page", page);
            if (found && view->scan_position <= before->scan_position) fault("a match that did not move on", page);
            if (!found) break;
        }
        offset += stop;
    }
    std::free(before);
    std::free(view);
    return 0;
}
