// File Viewer: a caller names a text file of the board and pages through
// it, word-wrapped to his screen, forward and back over up to 1100 pages,
// with a search for up to six words in either direction.
//
// The input routine holds the dialogue; the pages themselves are produced
// by the page routine, which the host polls for the line, one step per
// call: read a buffer, format it, scan it for the search words, show it.
// Both work on the view state in the line's volatile data area.
#include <unistd.h>

#include <cstring>

#include "file_viewer.h"
#include "frame.h"
#include "host.h"
#include "page.h"

namespace {

int input_routine();
void hangup_routine();
void shutdown_routine();

module_descriptor descriptor = {"", {}, nullptr, input_routine, nullptr, nullptr, nullptr,
                                hangup_routine, nullptr, nullptr, shutdown_routine};
int module_number;
message_block *block;

// The file each line's viewing holds open, by channel number: the handle in
// the view state, kept here as well because the volatile data area is every
// module's, and the caller need not be in the viewer when he hangs up (AFK
// parks an away caller in a module of its own). What is closed at hang-up
// is taken from here, never from the area.
FILE *open_files[MAX_LINES];

constexpr const char *NO_FILE_NAME = "You must pass a filename!";
constexpr const char *OPEN_FAILED = "Error opening %s.\n";

view_state *state() { return reinterpret_cast<view_state *>(vdaptr); }

int32_t &substate() { return usrptr->module_substate; }

void page_routine();

void start_polling(view_state *view) {
    view->polling_active = 1;
    begin_polling(usrnum, page_routine);
}

void end_polling(view_state *view) {
    view->polling_active = 0;
    stop_polling(usrnum);
}

void close_line_file(int chan) {
    if (open_files[chan] != nullptr) fclose(open_files[chan]);
    open_files[chan] = nullptr;
}

void close_text_file(view_state *view) {
    close_line_file(usrnum);
    view->text_file = nullptr;
}

// ------------------------------------------------------------ page routine

void read_step(view_state *view) {
    view->bytes_read = static_cast<uint32_t>(fread(view->page_text, 1, FV_READ_SIZE, view->text_file));
    substate() = FV_FILE_NAME;
}

void format_step(view_state *view) {
    if (view->bytes_read == 0) {
        prfmsg(FV_END_OF_FILE);
        outprf(usrnum);
        substate() = FV_SCANNING;
        end_polling(view);
        return;
    }
    uint32_t stop = format_page(*view);
    fseek(view->text_file, static_cast<long>(view->page_offsets[view->page_index]) + stop, SEEK_SET);
    if (view->searching != 0) {
        substate() = FV_SCANNING;
        view->scan_position = 0;
    } else {
        substate() = FV_SHOWING;
    }
}

void show_step(view_state *view) {
    prfmsg(FV_PAGE_HEADER);
    outprf(usrnum);
    prf("%s", view->page_text);
    outprf(usrnum);
    if (view->more_text != 0)
        prfmsg(view->page_index > 0 ? FV_PROMPT_BOTH : FV_PROMPT_NEXT_ONLY);
    else
        prfmsg(view->page_index > 0 ? FV_PROMPT_PREVIOUS_ONLY : FV_PROMPT_SINGLE_PAGE);
    outprf(usrnum);
    end_polling(view);
}

// A page without a match: on to the adjacent page in the search direction,
// or, at the first page or past the last one, the search is over and the
// page last scanned is shown.
void scan_step(view_state *view) {
    if (scan_page(*view, sameas)) {
        substate() = FV_SHOWING;
        return;
    }
    if (view->search_direction == 'b') {
        if (view->page_index == 0) {
            view->searching = 0;
            substate() = FV_SHOWING;
            return;
        }
        view->page_index -= 1;
        fseek(view->text_file, static_cast<long>(view->page_offsets[view->page_index]), SEEK_SET);
        substate() = FV_READING;
        return;
    }
    if (view->more_text != 0 && view->page_index < FV_PAGE_LIMIT_PAGES - 1) {
        view->page_index += 1;
        view->page_offsets[view->page_index] = static_cast<uint32_t>(ftell(view->text_file));
        substate() = FV_READING;
        return;
    }
    view->searching = 0;
    substate() = FV_SHOWING;
}

void page_routine() {
    if (btuoba(usrnum) < FV_MIN_OUTPUT_ROOM) return;
    // A caller whom another module has taken aside (parked) keeps his
    // place: his module_substate is that module's until he comes back.
    if (usrptr->current_module != module_number) return;
    view_state *view = state();
    if (view->text_file == nullptr || view->text_file != open_files[usrnum]) {
        end_polling(view);  // nothing of this module's to read: see the input routine
        return;
    }
    setmbk(block);
    switch (substate()) {
    case FV_READING: read_step(view); break;
    case FV_FILE_NAME: format_step(view); break;
    case FV_SHOWING: show_step(view); break;
    case FV_SCANNING: scan_step(view); break;
    default: break;
    }
    rstmbk();
}

// ----------------------------------------------------------- input routine

// The caller leaves the viewer: the busy bits go with him.
int leave() {
    rstmbk();
    usrptr->session_flags &= ~FV_SESSION_BITS;
    return 0;
}

// Audit entry for a name that tried to reach outside the board's files.
void report_refused(const char *path) {
    shocst("KRV File Viewer REFUSED", "User-ID: %s, File: %s", usaptr->user_id, path);
}

// Opens the file a caller named, read-only and only within the BBS
// directory tree; null when it does not open.
FILE *open_text_file(const char *path) {
    int fd = open_bbs_file(path);
    if (fd == BBS_FILE_REFUSED) report_refused(path);
    if (fd < 0) return nullptr;
    FILE *file = fdopen(fd, "rb");
    if (file == nullptr) close(fd);
    return file;
}

int take_file_name(view_state *view) {
    // The echo goes out at once: pending output is the host's one buffer,
    // and left there it would go to whichever line is served next.
    prf("%s\n", input);
    outprf(usrnum);
    view->page_index = 0;
    view->polling_active = 0;
    view->searching = 0;
    set_page_geometry(*view, usaptr->screen_width, usaptr->screen_length);
    usrptr->session_flags |= FV_SESSION_BITS;
    if (std::strlen(input) < 2) {
        prf("%s", NO_FILE_NAME);
        outprf(usrnum);
        return leave();
    }
    // A longer name is no name of this board's files; it is not cut down
    // to one that might be.
    char path[FV_PATH_LIMIT + 1];
    bool fits = std::strlen(input) <= FV_PATH_LIMIT;
    stzcpy(path, input, sizeof path);
    view->text_file = fits ? open_text_file(path) : nullptr;
    open_files[usrnum] = view->text_file;
    if (view->text_file == nullptr) {
        prf(OPEN_FAILED, fits ? path : input);
        outprf(usrnum);
        return leave();
    }
    btutsw(usrnum, 0);
    btuxnf(usrnum, 0, 19);
    view->page_offsets[0] = static_cast<uint32_t>(ftell(view->text_file));
    substate() = FV_READING;
    start_polling(view);
    return 1;
}

int command(view_state *view) {
    const char *word = margc > 0 ? margv[0] : "";
    char chosen;
    if (sameas(word, "n") != 0) {
        chosen = 'n';
    } else if (sameas(word, "p") != 0) {
        chosen = 'p';
    } else if (sameas(word, "x") != 0) {
        chosen = 'x';
    } else if (sameas(word, "k") != 0) {
        prfmsg(FV_ASK_SEARCH_WORDS);
        outprf(usrnum);
        prfmsg(FV_SEARCH_LINE);
        outprf(usrnum);
        substate() = FV_SEARCH_WORDS;
        rstmbk();
        return 1;
    } else {
        chosen = view->searching != 0 && view->search_direction == 'b' ? 'p' : 'n';
    }
    if (chosen == 'n' && view->more_text == 0) chosen = 'x';
    if (chosen == 'p' && view->previous_page == 0) chosen = 'x';
    if (chosen == 'x') {
        close_text_file(view);
        return leave();
    }
    if (chosen == 'n') {
        if (view->page_index + 1 < FV_PAGE_LIMIT_PAGES) {
            substate() = FV_READING;
            view->page_index += 1;
            view->page_offsets[view->page_index] = static_cast<uint32_t>(ftell(view->text_file));
            start_polling(view);
        } else {
            prfmsg(FV_PAGE_LIMIT);
            outprf(usrnum);
        }
    } else {
        view->page_index -= 1;
        fseek(view->text_file, static_cast<long>(view->page_offsets[view->page_index]), SEEK_SET);
        substate() = FV_READING;
        start_polling(view);
    }
    rstmbk();
    return 1;
}

void take_search_words(view_state *view) {
    if (margc == 0) {
        prfmsg(FV_SEARCH_CANCELLED);
        outprf(usrnum);
        substate() = FV_SHOWING;
        return;
    }
    uint32_t count = margc < FV_MAX_WORDS ? static_cast<uint32_t>(margc) : FV_MAX_WORDS;
    for (uint32_t i = 0; i < count; ++i) stzcpy(view->search_words[i], margv[i], FV_WORD_SIZE);
    view->word_count = count;
    prfmsg(FV_SEARCH_LINE);
    outprf(usrnum);
    prfmsg(FV_ASK_DIRECTION);
    outprf(usrnum);
    substate() = FV_DIRECTION;
}

void take_direction(view_state *view) {
    if (margc == 0) {
        prfmsg(FV_SEARCH_CANCELLED);
        outprf(usrnum);
        substate() = FV_SHOWING;
        return;
    }
    view->search_direction = sameas(margv[0], "b") != 0 ? 'b' : 'f';
    view->searching = 1;
    view->scan_position = 0;
    substate() = FV_SCANNING;
    start_polling(view);
}

int input_routine() {
    view_state *view = state();
    setmbk(block);
    if (substate() == FV_ENTERING) {
        // The area may hold what another module left in it: nothing of it
        // is taken for an open file. A file still held for the line is of a
        // viewing the caller was taken out of and never brought back to.
        close_line_file(usrnum);
        std::memset(view, 0, sizeof *view);
        prfmsg(FV_ASK_FILE_NAME);
        outprf(usrnum);
        substate() = FV_FILE_NAME;
        rstmbk();
        return 1;
    }
    // While a page is being produced, what the caller types neither opens
    // a second file nor closes the one the page routine reads.
    if (view->polling_active != 0) {
        rstmbk();
        return 1;
    }
    // A viewing is read only through the file this module opened for the
    // line: a handle in the area that is not that one (the area changed
    // under the viewing, or its file was closed) ends the viewing instead
    // of being used.
    if (substate() != FV_FILE_NAME && (view->text_file == nullptr || view->text_file != open_files[usrnum])) {
        close_line_file(usrnum);
        view->text_file = nullptr;
        return leave();
    }
    switch (substate()) {
    case FV_FILE_NAME:
        if (take_file_name(view) == 0) return 0;
        break;
    case FV_SHOWING:
        return command(view);
    case FV_SCANNING:
        close_text_file(view);
        shocst("KRV File Viewer UxEof", "FvW Unexpected EOF");
        return leave();
    case FV_SEARCH_WORDS:
        take_search_words(view);
        break;
    case FV_DIRECTION:
        take_direction(view);
        break;
    default:
        break;
    }
    rstmbk();
    return 1;
}

// ------------------------------------------------------- hang-up, shutdown

// The view state is the viewer's only while the caller is in it; his file
// is closed wherever he is.
void hangup_routine() {
    if (usrptr->current_module == module_number) {
        view_state *view = reinterpret_cast<view_state *>(vdaoff(usrnum));
        if (view->polling_active != 0) end_polling(view);
        view->text_file = nullptr;
    }
    close_line_file(usrnum);
}

void shutdown_routine() { clsmsg(block); }

}  // namespace

BBS_EXPORT void init__krvfv() {
    set_module_name(descriptor, gmdnam("KRVFV.MDF"));
    module_number = register_module(&descriptor);
    dclvda(sizeof(view_state));
    block = opnmsg("KRVFV.MCV");
}
