// The File Viewer's message numbers in KRVFV.MCV, its dialogue states, and
// the view state it keeps in a line's volatile data area.
#ifndef BBS_FILE_VIEWER_H
#define BBS_FILE_VIEWER_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Messages (the module reads no options). None takes an argument.
constexpr int FV_PAGE_HEADER = 3;           // before the text of every page
constexpr int FV_ASK_FILE_NAME = 4;         // on entry
constexpr int FV_PROMPT_BOTH = 5;           // text follows, a page precedes
constexpr int FV_PROMPT_NEXT_ONLY = 6;      // the first page, text follows
constexpr int FV_PROMPT_PREVIOUS_ONLY = 7;  // the last page, not the first
constexpr int FV_PROMPT_SINGLE_PAGE = 8;    // first and last page
constexpr int FV_END_OF_FILE = 10;          // a read found no text; the next input ends the viewing
constexpr int FV_PAGE_LIMIT = 11;           // "n" on the last page the table can hold
constexpr int FV_SEARCH_CANCELLED = 12;     // empty answer to the word or direction prompt
constexpr int FV_ASK_DIRECTION = 13;        // after the search words were taken
constexpr int FV_ASK_SEARCH_WORDS = 14;     // after "k"
constexpr int FV_SEARCH_LINE = 15;          // after message 14, and before message 13

// module_substate values. 1, 2 and 4 mean one thing to the page routine
// (while polling) and another to the input routine.
constexpr int FV_ENTERING = 0;
constexpr int FV_READING = 1;         // polling: read a buffer
constexpr int FV_FILE_NAME = 2;       // input: the file name; polling: format the buffer
constexpr int FV_SHOWING = 3;         // polling: show the page; input: a command
constexpr int FV_SCANNING = 4;        // polling: scan for the search words; input: after message 10
constexpr int FV_SEARCH_WORDS = 5;    // input: the search words
constexpr int FV_DIRECTION = 6;       // input: the search direction

// session_flags bits set while a viewing is under way.
constexpr uint32_t FV_SESSION_BITS = 0x00000001u | 0x00002000u;

constexpr int FV_PAGE_LIMIT_PAGES = 1100;   // pages a viewing can reach
constexpr int FV_BUFFER_SIZE = 2048;        // the page buffer, NUL included
constexpr int FV_READ_SIZE = FV_BUFFER_SIZE - 1;
constexpr int FV_MAX_WORDS = 6;
constexpr int FV_WORD_SIZE = 41;            // a search word: 40 characters and the NUL
constexpr int FV_SCAN_WORD = 80;            // characters of a page word kept for comparing
constexpr int FV_PATH_LIMIT = 91;           // characters of a file name
constexpr int FV_MIN_OUTPUT_ROOM = 1920;    // a polling step runs only with this much output room

// The view state: everything a viewing needs, in the line's volatile data
// area; nothing is allocated.
struct view_state {
    FILE *text_file;               // null when no file is open
    uint8_t page_width;            // characters per line for the formatter (38 to 78)
    uint8_t page_length;           // lines of text per page (3 to 18, or 21)
    uint8_t more_text;             // text follows the page on display
    uint8_t previous_page;         // a page precedes the page on display
    uint8_t last_char;             // the last character the formatter placed
    char search_direction;         // 'f' or 'b'
    uint32_t page_index;           // the page on display; 0 is the first
    uint32_t bytes_read;           // bytes the last read placed in page_text
    uint32_t polling_active;       // the page routine is registered for the line
    uint32_t searching;            // pages are scanned for the search words before they are shown
    uint32_t word_count;           // search words held (0 to 6)
    int32_t scan_position;         // where the scan stands in page_text
    uint32_t page_offsets[FV_PAGE_LIMIT_PAGES];  // file offset of each page reached
    char page_text[FV_BUFFER_SIZE];              // the page as read, then as shown
    char search_words[FV_MAX_WORDS][FV_WORD_SIZE];
};
static_assert(offsetof(view_state, page_width) == sizeof(FILE *), "the geometry follows the file handle");
static_assert(offsetof(view_state, page_offsets) % 4 == 0, "the page table is aligned");

#endif
