// The File Viewer's page work that needs no host: the page geometry of a
// screen, the formatter that turns a buffer read from the file into a page,
// and the scan of a formatted page for the search words. The page routine
// (file_viewer.cpp) drives them a step per call; the fuzz target and the
// benchmark drive them directly.
#ifndef BBS_FILE_VIEWER_PAGE_H
#define BBS_FILE_VIEWER_PAGE_H

#include <cstdint>

#include "file_viewer.h"

// Sets page_width and page_length for a screen of the given size:
// the width is held to 39..79 and less one; a length of 6 to 21 lines
// loses three, any other gives 21.
void set_page_geometry(view_state &view, uint8_t screen_width, uint8_t screen_length);

// Formats the bytes_read bytes at the start of page_text into a page, in
// place: CR becomes a line end, an LF that follows a line end becomes a
// blank, NUL and FF become blanks, lines are wrapped to page_width, and the
// page stops after page_length lines with a NUL where it stops. Sets
// more_text, previous_page and last_char. Returns the stop position: the
// next page begins with the byte that stood there.
uint32_t format_page(view_state &view);

// Two words the same, as the host compares words.
typedef int (*same_word_t)(const char *a, const char *b);

// Scans the formatted page from scan_position for a word equal to one of
// the search words; a page word counts up to its first byte below "0".
// True at the first match, with scan_position after the matching word;
// false when the page ends first.
bool scan_page(view_state &view, same_word_t same);

#endif
