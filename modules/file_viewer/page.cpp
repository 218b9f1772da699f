// The page geometry, the formatter and the scan (see page.h).
#include "page.h"

#include <cstring>

namespace {

constexpr uint32_t TEXT_END = FV_BUFFER_SIZE - 1;  // the last byte of page_text, kept for the NUL

bool is_blank_or_line_end(char c) { return c == ' ' || c == '\n'; }

// The line ending at j holds page_width characters: break it at the last
// blank before j, so that the characters after the blank begin the next
// line; with no blank on the line, the character at j gives way to the line
// end. last_char is left as it was.
void wrap(view_state &view, uint32_t j, uint32_t &column) {
    char *text = view.page_text;
    for (uint32_t back = 1; back < view.page_width && back <= j; ++back) {
        uint32_t p = j - back;
        if (text[p] == ' ') {
            text[p] = '\n';
            column = j - p;
            return;
        }
    }
    text[j] = '\n';
    column = 0;
}

}  // namespace

void set_page_geometry(view_state &view, uint8_t screen_width, uint8_t screen_length) {
    int width = screen_width;
    if (width < 40) width = 39;
    if (width > 79) width = 79;
    view.page_width = static_cast<uint8_t>(width - 1);
    view.page_length = screen_length >= 6 && screen_length <= 21 ? static_cast<uint8_t>(screen_length - 3) : 21;
}

uint32_t format_page(view_state &view) {
    char *text = view.page_text;
    const uint32_t size = view.bytes_read < TEXT_END ? view.bytes_read : TEXT_END;
    view.more_text = 0;
    view.previous_page = 0;
    if (static_cast<uint32_t>(view.page_width) * view.page_length < size) view.more_text = 1;
    if (view.page_index > 0) view.previous_page = 1;
    view.last_char = ' ';
    uint32_t column = 0;
    uint32_t lines = 0;
    uint32_t j = 0;
    for (; j < size; ++j) {
        unsigned char c = static_cast<unsigned char>(text[j]);
        if (c == '\r' || (c == '\n' && view.last_char != '\n')) {
            text[j] = '\n';
            view.last_char = '\n';
            column = 0;
            ++lines;
        } else {
            if (c == '\n' || c == '\0' || c == '\f') {
                c = ' ';
                text[j] = ' ';
            }
            ++column;
            view.last_char = c;
        }
        if (column == view.page_width) {
            wrap(view, j, column);
            ++lines;
        }
        if (lines == view.page_length) break;
    }
    text[j] = '\0';
    if (j < size) view.more_text = 1;
    return j;
}

bool scan_page(view_state &view, same_word_t same) {
    const char *text = view.page_text;
    uint32_t pos = view.scan_position >= 0 ? static_cast<uint32_t>(view.scan_position) : TEXT_END;
    if (pos > TEXT_END) pos = TEXT_END;
    const uint32_t count = view.word_count < FV_MAX_WORDS ? view.word_count : FV_MAX_WORDS;
    char word[FV_SCAN_WORD + 1];
    for (;;) {
        while (pos < TEXT_END && is_blank_or_line_end(text[pos])) ++pos;
        if (pos >= TEXT_END || text[pos] == '\0') {
            view.scan_position = static_cast<int32_t>(pos);
            return false;
        }
        uint32_t kept = 0;
        for (; pos < TEXT_END && text[pos] != '\0' && !is_blank_or_line_end(text[pos]); ++pos)
            if (kept < FV_SCAN_WORD) word[kept++] = text[pos];
        // Punctuation ends a word: "end." and "end," are "end", "(see" is
        // nothing. Bytes from 0x80 up are letters here.
        for (uint32_t i = 0; i < kept; ++i) {
            if (static_cast<unsigned char>(word[i]) < '0') {
                kept = i;
                break;
            }
        }
        word[kept] = '\0';
        view.scan_position = static_cast<int32_t>(pos);
        if (kept == 0) continue;
        for (uint32_t w = 0; w < count; ++w) {
            const char *search_word = view.search_words[w];
            if (strnlen(search_word, FV_WORD_SIZE) == kept && same(word, search_word) != 0) return true;
        }
    }
}
