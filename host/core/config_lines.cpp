// The shared reader of KEY=VALUE files.
#include "config_lines.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include <utility>

namespace bbs {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
    return s;
}

// The line without its comment. A '#' or ';' inside a word ("Room#1") is
// kept, so that values may carry them.
std::string_view strip_comment(std::string_view line) {
    for (size_t i = 0; i < line.size(); ++i) {
        if ((line[i] == '#' || line[i] == ';') && (i == 0 || is_blank(line[i - 1])))
            return line.substr(0, i);
    }
    return line;
}

}  // namespace

bool read_whole_file(const std::string &path, std::string &text, std::string &why) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        why = strerror(errno);
        return false;
    }
    std::string out;
    char buffer[8192];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            why = strerror(errno);
            close(fd);
            return false;
        }
        if (n == 0) break;
        out.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    text = std::move(out);
    return true;
}

std::string base_name(const std::string &path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string cannot_read(const std::string &path, const std::string &why) {
    return base_name(path) + ": cannot read " + path + ": " + why;
}

std::vector<ConfigLine> read_config_lines(std::string_view text) {
    std::vector<ConfigLine> lines;
    for_each_line(text, [&](int number, std::string_view raw) {
        std::string_view line = trim(strip_comment(raw));
        if (line.empty()) return;

        ConfigLine out;
        out.number = number;
        if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
            out.type = ConfigLine::section;
            out.key = trim(line.substr(1, line.size() - 2));
        } else if (size_t eq = line.find('='); eq != std::string_view::npos && eq > 0) {
            out.type = ConfigLine::setting;
            out.key = trim(line.substr(0, eq));
            out.value = trim(line.substr(eq + 1));
        } else {
            out.type = ConfigLine::malformed;
            out.value = line;
        }
        lines.push_back(std::move(out));
    });
    return lines;
}

bool same_key(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace bbs
