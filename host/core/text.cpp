// Words, input parsing, dates and times as text, the BBS clock.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "state.h"

namespace bbs {
namespace {
// parsin splits a copy of the input line, so `input` itself stays as typed.
char g_words[INPUT_SIZE];
// The command-concatenation reader's position in `input`.
size_t g_cnc = 0;

int lower(int c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; }
}  // namespace

// Days from 1970-01-01 of a civil date, and back (proleptic Gregorian).
int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civil_from_days(int64_t z, int &y, int &m, int &d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}

int64_t local_seconds() {
    Core &c = core();
    int64_t base = c.clock != nullptr ? c.clock->local_seconds() : 0;
    return base + c.clock_offset;
}

int64_t seconds_from_packed(uint16_t date, uint16_t time) {
    int y = 1980 + (date >> 9), m = (date >> 5) & 15, d = date & 31;
    return days_from_civil(y, m, d) * 86400 + (time >> 11) * 3600 + ((time >> 5) & 63) * 60 + (time & 31) * 2;
}

uint16_t packed_date_after(uint16_t date, int days) {
    int64_t day = seconds_from_packed(date, 0) / 86400 + days;
    int y, m, d;
    civil_from_days(day, y, m, d);
    if (y < 1980) return 0x21;  // 1980-01-01
    if (y > 2107) return static_cast<uint16_t>((127 << 9) | (12 << 5) | 31);
    return static_cast<uint16_t>(((y - 1980) << 9) | (m << 5) | d);
}

}  // namespace bbs

extern "C" {

int sameas(const char *a, const char *b) {
    if (a == nullptr || b == nullptr) return 0;
    for (; *a && *b; ++a, ++b)
        if (bbs::lower(static_cast<unsigned char>(*a)) != bbs::lower(static_cast<unsigned char>(*b))) return 0;
    return *a == *b;
}

int sameto(const char *prefix, const char *text) {
    if (prefix == nullptr || text == nullptr) return 0;
    for (; *prefix; ++prefix, ++text)
        if (*text == '\0' ||
            bbs::lower(static_cast<unsigned char>(*prefix)) != bbs::lower(static_cast<unsigned char>(*text)))
            return 0;
    return 1;
}

int isuidc(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

void parsin(void) {
    input[INPUT_SIZE - 1] = '\0';
    std::memcpy(bbs::g_words, input, INPUT_SIZE);
    margc = 0;
    char *p = bbs::g_words;
    while (*p != '\0' && margc < MAX_ARGS) {
        while (*p == ' ' || *p == '\t') *p++ = '\0';
        if (*p == '\0') break;
        margv[margc++] = p;
        while (*p != '\0' && *p != ' ' && *p != '\t') ++p;
    }
    for (int i = margc; i < MAX_ARGS; ++i) margv[i] = bbs::g_words + INPUT_SIZE - 1;  // an empty word
    bbs::g_cnc = 0;
}

void bgncnc(void) { bbs::g_cnc = 0; }

static void skip_blanks() {
    while (bbs::g_cnc < INPUT_SIZE && (input[bbs::g_cnc] == ' ' || input[bbs::g_cnc] == '\t')) ++bbs::g_cnc;
}

int cncchr(void) {
    skip_blanks();
    if (bbs::g_cnc >= INPUT_SIZE || input[bbs::g_cnc] == '\0') return 0;
    int c = static_cast<unsigned char>(input[bbs::g_cnc++]);
    return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c;
}

char *cncall(void) {
    skip_blanks();
    if (bbs::g_cnc >= INPUT_SIZE) bbs::g_cnc = INPUT_SIZE - 1;
    char *rest = input + bbs::g_cnc;
    bbs::g_cnc += std::strlen(rest);
    return rest;
}

int cncyesno(void) {
    skip_blanks();
    if (bbs::g_cnc >= INPUT_SIZE || input[bbs::g_cnc] == '\0') return 0;
    size_t start = bbs::g_cnc;
    size_t end = start;
    while (end < INPUT_SIZE && input[end] != '\0' && input[end] != ' ' && input[end] != '\t') ++end;
    std::string word(input + start, input + end);
    for (char &ch : word) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    if (word == "Y" || word == "YES") { bbs::g_cnc = end; return 'Y'; }
    if (word == "N" || word == "NO") { bbs::g_cnc = end; return 'N'; }
    // Not a yes or no word: give its first character, as cncchr would.
    ++bbs::g_cnc;
    return static_cast<unsigned char>(word[0]);
}

int endcnc(void) {
    skip_blanks();
    return bbs::g_cnc >= INPUT_SIZE || input[bbs::g_cnc] == '\0';
}

uint16_t today(void) {
    int y, m, d;
    bbs::civil_from_days(bbs::local_seconds() >= 0 ? bbs::local_seconds() / 86400 : (bbs::local_seconds() - 86399) / 86400, y, m, d);
    if (y < 1980) y = 1980;
    if (y > 2107) y = 2107;
    return static_cast<uint16_t>(((y - 1980) << 9) | (m << 5) | d);
}

uint16_t now(void) {
    int64_t s = bbs::local_seconds() % 86400;
    if (s < 0) s += 86400;
    return static_cast<uint16_t>(((s / 3600) << 11) | (((s / 60) % 60) << 5) | ((s % 60) / 2));
}

char *ncdate(uint16_t date) {
    static char buffers[4][16];
    static int next = 0;
    char *b = buffers[next];
    next = (next + 1) % 4;
    std::snprintf(b, 16, "%02u/%02u/%02u", (date >> 5) & 15u, date & 31u, (1980u + (date >> 9)) % 100u);
    return b;
}

char *nctime(uint16_t time) {
    static char buffers[4][16];
    static int next = 0;
    char *b = buffers[next];
    next = (next + 1) % 4;
    std::snprintf(b, 16, "%02u:%02u:%02u", (time >> 11) & 31u, (time >> 5) & 63u, (time & 31u) * 2u);
    return b;
}

uint16_t dctime(const char *text) {
    // "H:MM", "HH:MM" or "HH:MM:SS", 24-hour clock.
    if (text == nullptr) return 0xFFFF;
    int field[3] = {0, 0, 0};
    int count = 0;
    const char *p = text;
    while (count < 3) {
        if (!std::isdigit(static_cast<unsigned char>(*p))) return 0xFFFF;
        int value = 0, digits = 0;
        while (std::isdigit(static_cast<unsigned char>(*p)) && digits < 3) value = value * 10 + (*p++ - '0'), ++digits;
        if (digits > 2) return 0xFFFF;
        field[count++] = value;
        if (*p == ':') { ++p; continue; }
        break;
    }
    if (*p != '\0' || count < 2) return 0xFFFF;
    if (field[0] > 23 || field[1] > 59 || field[2] > 59) return 0xFFFF;
    return static_cast<uint16_t>((field[0] << 11) | (field[1] << 5) | (field[2] / 2));
}

char *fileparts(int part, const char *path, char *buffer, int size) {
    // 1: the file name with its extension; 2: the directory; otherwise the
    // whole path.
    if (buffer == nullptr || size <= 0) return buffer;
    std::string p = path ? path : "";
    std::string result = p;
    size_t slash = p.find_last_of('/');
    if (part == 1) result = slash == std::string::npos ? p : p.substr(slash + 1);
    else if (part == 2) result = slash == std::string::npos ? std::string() : p.substr(0, slash);
    return stlcpy(buffer, result.c_str(), size);
}

int set_time_of_day(int hour, int minute, int second, int hundredths) {
    (void)hundredths;
    bbs::Core &c = bbs::core();
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) return 0;
    int64_t current = bbs::local_seconds();
    int64_t day_start = current - ((current % 86400) + 86400) % 86400;
    int64_t wanted = day_start + hour * 3600 + minute * 60 + second;
    if (c.settings.clock_system && c.clock != nullptr) {
        std::string error;
        if (c.clock->set_system_time(wanted - c.clock_offset, error)) return 1;
        bbs::write_audit("CLOCK NOT SET", "The machine's clock could not be set: " + error);
        return 0;
    }
    c.clock_offset += wanted - current;
    return 1;
}

}  // extern "C"
