// KRVTOP: rewrites WGSERV.CFG with one module's DLL= line moved to the top
// or the bottom of the module list.
//
// The file is read in pieces of at most 198 bytes, as a C line reader with a
// 200-byte buffer and the limit 199 gives them: a longer line arrives in
// several pieces and each piece is judged as a line of its own. Every piece
// is copied exactly as read, line ends included, so a file that came with
// CR LF keeps them; the one line the tool makes itself, the module's, takes
// the file's line end.
//
// WGSERV.CFG is replaced only after the whole new file has reached the disk:
// any fault while reading or writing removes the temporary file and leaves
// WGSERV.CFG and WGSERV.CBK as they were.
#include "module_order.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string_view>

namespace krvtop {
namespace {

constexpr const char *kConfigName = "WGSERV.CFG";
constexpr const char *kTempName = "KRVTMP.$$$";
constexpr const char *kBackupName = "WGSERV.CBK";

constexpr size_t kLineBuffer = 200;
constexpr size_t kReadLimit = 199;  // a piece holds at most kReadLimit - 1 bytes

constexpr const char *kUsage =
    "\nTop v1.0\n"
    "\nUsage: KRVTOP <MODULE> [/B]\n"
    "\n"
    "Top program moves the DLL line for <MODULE> to the\n"
    "top of the DLL list in WGSERV.CFG. Specify /B at the end\n"
    "to move the module to the bottom of the DLL list instead.\n"
    "\n"
    "For example:\n\n"
    "   KRVTOP KRVGLOB\n"
    " or \n"
    "   KRVTOP KRVTHUNK /B\n";

struct Piece {
    char bytes[kLineBuffer];
    size_t length;
};

// The temporary file being written. After a fault nothing more is written;
// `line_open` is true while the last byte written is not a line end.
struct Output {
    FILE *file;
    bool failed;
    bool line_open;
};

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i])) return false;
    return true;
}

// Reads the next piece: the bytes up to and including the next '\n', but no
// more than kReadLimit - 1. Bytes are counted rather than taken as a C
// string so that a NUL in the file is copied like any other byte. False at
// the end of the file and on a read fault; ferror() tells them apart.
bool read_piece(FILE *file, Piece &piece) {
    piece.length = 0;
    while (piece.length < kReadLimit - 1) {
        int c = getc(file);
        if (c == EOF) break;
        piece.bytes[piece.length++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    return piece.length > 0;
}

bool begins_dll_exact(const Piece &piece) {
    return piece.length >= 4 && memcmp(piece.bytes, "DLL=", 4) == 0;
}

bool begins_dll_any_case(const Piece &piece) {
    return piece.length >= 4 && equal_ignoring_case(std::string_view(piece.bytes, 4), "DLL=");
}

// Whether the name part of a DLL= piece (what follows the first four bytes,
// less every byte below 32 or from 128 up; spaces count) equals the module
// name with case ignored. Compared in place, so a name of any length is
// compared whole.
bool names_module(const Piece &piece, std::string_view module) {
    size_t matched = 0;
    for (size_t i = 4; i < piece.length; ++i) {
        const auto byte = static_cast<unsigned char>(piece.bytes[i]);
        if (byte < 32 || byte >= 128) continue;
        if (matched == module.size() || upper(static_cast<char>(byte)) != upper(module[matched]))
            return false;
        ++matched;
    }
    return matched == module.size();
}

bool find_module_line(FILE *in, std::string_view module) {
    Piece piece;
    while (read_piece(in, piece))
        if (begins_dll_exact(piece) && names_module(piece, module)) return true;
    return false;
}

// The file's line end is the kind its first line ends with; a file without
// any line end gets LF. Leaves the file at its start. False on a read fault.
bool detect_line_end(FILE *in, std::string_view &line_end) {
    if (fseek(in, 0, SEEK_SET) != 0) return false;
    line_end = "\n";
    int previous = EOF;
    for (int c; (c = getc(in)) != EOF; previous = c) {
        if (c == '\n') {
            if (previous == '\r') line_end = "\r\n";
            break;
        }
    }
    return !ferror(in) && fseek(in, 0, SEEK_SET) == 0;
}

void put(Output &out, std::string_view bytes) {
    if (bytes.empty() || out.failed) return;
    if (fwrite(bytes.data(), 1, bytes.size(), out.file) != bytes.size()) {
        out.failed = true;
        return;
    }
    out.line_open = bytes.back() != '\n';
}

// A line without its line end (the last line of a file, or the first piece
// of a long line) is ended before the module's line follows it: glued on,
// the module's line would vanish into that line.
void put_module_line(Output &out, std::string_view module_line, std::string_view line_end) {
    if (out.line_open) put(out, line_end);
    put(out, module_line);
}

// Copies the file with every line of the module left out and the module's
// line written at the top of the first run of DLL= lines (top), or after
// each run of DLL= lines (bottom). `in` must be at its start.
void copy_pass(FILE *in, Output &out, bool bottom, std::string_view module,
               std::string_view module_line, std::string_view line_end) {
    // Top: the module's line has been written. Bottom: the pieces just read
    // are a run of DLL= lines.
    bool flag = false;
    Piece piece;
    while (!out.failed && read_piece(in, piece)) {
        if (!bottom) {
            if (!flag) {
                if (begins_dll_exact(piece)) {
                    put_module_line(out, module_line, line_end);
                    flag = true;
                    if (names_module(piece, module)) continue;
                }
            } else if (begins_dll_any_case(piece) && names_module(piece, module)) {
                continue;
            }
        } else if (begins_dll_any_case(piece)) {
            flag = true;
            if (names_module(piece, module)) continue;
        } else if (flag) {
            flag = false;
            put_module_line(out, module_line, line_end);
        }
        put(out, std::string_view(piece.bytes, piece.length));
    }
    if (bottom && flag && !ferror(in)) put_module_line(out, module_line, line_end);
}

// Flushes the temporary file to the disk and closes it; false when any of
// that fails (a full disk often shows only here).
bool close_temp(FILE *file, bool written) {
    bool ok = written && fflush(file) == 0 && fsync(fileno(file)) == 0;
    return fclose(file) == 0 && ok;
}

std::string path_in(const std::string &directory, const char *name) {
    return directory + "/" + name;
}

}  // namespace

int run(int argc, char *argv[], const std::string &directory, std::ostream &out) {
    if (argc < 2) {
        out << kUsage;
        return 0;
    }
    const bool bottom = argc == 3 && equal_ignoring_case(argv[2], "/B");
    for (char *c = argv[1]; *c != '\0'; ++c) *c = upper(*c);
    const std::string module = argv[1];

    const std::string config_path = path_in(directory, kConfigName);
    const std::string temp_path = path_in(directory, kTempName);
    const std::string backup_path = path_in(directory, kBackupName);

    FILE *in = fopen(config_path.c_str(), "rb");
    if (in == nullptr) {
        out << "Unable to open WGSERV.CFG for read!\n";
        return 1;
    }
    FILE *temp = fopen(temp_path.c_str(), "wb");
    if (temp == nullptr) {
        fclose(in);
        out << "Unable to open KRVTMP.$$$ for write!\n";
        return 1;
    }

    const bool found = find_module_line(in, module);
    if (!found && !ferror(in)) {
        fclose(temp);
        fclose(in);
        remove(temp_path.c_str());
        out << "Unable to find: " << module << " in WGSERV.CFG!\n";
        return 0;
    }

    Output output{temp, false, false};
    std::string_view line_end;
    bool read_fault = ferror(in) != 0 || !detect_line_end(in, line_end);
    if (!read_fault) {
        copy_pass(in, output, bottom, module, "DLL=" + module + std::string(line_end), line_end);
        read_fault = ferror(in) != 0;
    }
    fclose(in);
    const bool write_fault = !close_temp(temp, !output.failed);

    if (read_fault || write_fault) {
        remove(temp_path.c_str());
        out << (read_fault ? "Unable to read WGSERV.CFG!\n" : "Unable to write KRVTMP.$$$!\n");
        return 1;
    }

    remove(backup_path.c_str());
    rename(config_path.c_str(), backup_path.c_str());
    return rename(temp_path.c_str(), config_path.c_str());
}

}  // namespace krvtop
