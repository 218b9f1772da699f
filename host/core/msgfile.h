// Message files: the numbered messages and options of a plug-in, kept as
// text that the operator edits (format: docs/message-files.md and the head
// of msgfile.cpp), and the message blocks that opnmsg hands out.
//
// The C operations (opnmsg, setmbk, rstmbk, clsmsg, stgopt, numopt, lngopt,
// hexopt, ynopt) are declared in host.h; this header is the core's own view.
#ifndef BBS_MSGFILE_H
#define BBS_MSGFILE_H

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bbs {

enum class EntryKind { message, text, number, long_number, hex, yesno };

// The word that names a kind in a message file ("message", "long", ...).
const char *entry_kind_word(EntryKind kind);

// The largest entry number a message file may use.
constexpr int kMaxEntryNumber = 32767;

struct MessageEntry {
    int number = 0;
    std::string name;
    EntryKind kind = EntryKind::message;
    int line = 0;                // line of the file on which the entry starts
    std::string help;            // required for options, optional for messages
    long long minimum = 0;       // number, long, hex: the range the file allows
    long long maximum = 0;
    std::string text;            // message, text: the decoded text
    long long value = 0;         // number, long, hex; yesno: 1 or 0
};

struct MessageFile {
    std::string name;                       // file name used in errors
    std::map<int, MessageEntry> entries;    // by number

    const MessageEntry *find(int number) const;
};

// Parses the text of a message file. Every error is appended to `errors` as
// "FILE:LINE: what is wrong"; the result is empty unless there was none (a
// file that does not parse is refused whole).
std::optional<MessageFile> parse_message_text(const std::string &file_name, std::string_view text,
                                              std::vector<std::string> &errors);

// The same for a file on disk; errors name the file by its base name.
std::optional<MessageFile> parse_message_file(const std::string &path, std::vector<std::string> &errors);

// Everything wrong with a message file, without loading any plug-in (for
// `bbshost check`). Empty when the file is sound.
std::vector<std::string> check_message_file(const std::string &path);

// One printf conversion of a message text.
struct Conversion {
    size_t offset = 0;   // where its '%' stands in the text
    std::string written; // as written: "%-10s", "%ld"
};

// The conversions of a message text, in order ("%%" is none). False, with
// `why` describing the first offending conversion and `offset` where it
// starts, when the text holds one outside the safe set: d i u x X c s, l
// before d i u x X, flags, width and precision where C defines them for the
// conversion, width and precision at most 999, and "%%".
bool scan_conversions(std::string_view text, std::vector<Conversion> &out, std::string &why, size_t &offset);

// The text a message shows in test mode: "<N|%s|%d...>", the number and each conversion as written.
std::string test_mode_text(int number, std::string_view real_text);

// In test mode every message text is replaced by its test-mode text when a
// file is opened, so that tests see which message went out with which
// arguments. Files opened before the switch keep their texts.
void set_message_test_mode(bool on);
bool message_test_mode();

// For prfmsg: the text of message `number` of the selected block; nullptr
// when no block is selected, the block is closed or failed to load, or it
// has no message of that number.
const char *current_message_text(int number);

// The file name of the selected block, for error messages ("" when none).
std::string current_block_name();

// How many blocks setmbk has saved that rstmbk has not yet restored. A
// routine that keeps the setmbk/rstmbk discipline leaves it as it found it.
size_t message_selection_depth();

// Forgets every open block and the selection, as when a BBS is taken down.
// Blocks are closed rather than freed, so that handles and stgopt texts that
// a plug-in still holds stay safe to use.
void reset_message_blocks();

}  // namespace bbs

#endif
