// The File Viewer's search driven by the host's polling, against the same
// work done in a plain loop, in the same run.
//
// A text of 2 MB without the search word is viewed on an 80 x 24 screen
// (pages of 78 x 21) and searched forward from the first page: the search
// reads, formats and scans page after page until the page table is full at
// page 1100, one step per polling call. The plain loop reads, formats and
// scans the same 1100 pages with the same code and no host around it. Both
// must end on the same page at the same offset.
//
//   file_viewer_bench [ROUNDS]     (default 5; the median of each is shown)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "driver.h"
#include "file_viewer.h"
#include "page.h"

using namespace bbs;
using namespace bbs::testing;

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char *kWord = "quagga";  // never in the text
constexpr size_t kTextSize = 2 * 1024 * 1024;

// A reproducible text of plain lines of 40 to 76 characters.
std::string make_text() {
    static const char *vocabulary[] = {
        "the", "board", "caller", "line", "file", "page", "viewer", "search", "modem", "night", "message", "reply",
        "sysop", "mail", "door", "game", "upload", "download", "credit", "menu", "prompt", "screen", "word",
        "number", "list", "news", "rules", "member", "guest", "class", "key", "time", "day", "week", "month",
        "call", "back", "later", "early", "quiet", "busy", "free", "fast", "slow", "text", "end.", "(note)",
        "one,", "two;", "three", "and", "or", "but", "with", "from", "into", "over", "under", "again",
    };
    const size_t words = sizeof vocabulary / sizeof vocabulary[0];
    uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return state >> 8;
    };
    std::string text, line;
    text.reserve(kTextSize + 100);
    while (text.size() < kTextSize) {
        size_t target = 40 + next() % 37;
        line.clear();
        while (line.size() < target) {
            const char *w = vocabulary[next() % words];
            if (line.size() + 1 + std::strlen(w) > 76) break;
            if (!line.empty()) line += ' ';
            line += w;
        }
        text += line + "\n";
    }
    return text;
}

view_state &view_of(Bbs &bbs, int n) { return *reinterpret_cast<view_state *>(bbs.line(n).vda.data()); }

struct Result {
    double seconds;
    uint32_t page_index;
    uint32_t offset;
};

// One search through the host: the viewer opened on the first page, the
// word and the direction typed, then polling until the page is shown.
Result hosted_search(Bbs &bbs, int n) {
    bbs.type(n, "1");
    bbs.type(n, "BIG.TXT");
    bbs.poll(1 << 30);
    bbs.type(n, "k");
    bbs.type(n, kWord);
    bbs.take_output(n);
    auto start = Clock::now();
    bbs.type(n, "f");
    bbs.poll(1 << 30);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    view_state &v = view_of(bbs, n);
    Result r{seconds, v.page_index, v.page_offsets[v.page_index]};
    if (v.searching != 0 || bbs.take_output(n).find("<3>") == std::string::npos) {
        std::fprintf(stderr, "the hosted search did not end with a page shown\n");
        std::exit(1);
    }
    bbs.type(n, "x");
    bbs.take_output(n);
    return r;
}

int same_word(const char *a, const char *b) { return sameas(a, b); }

// The same work without the host: the first page read and formatted
// beforehand, as the viewer has it on display when the search starts.
Result plain_search(const std::string &path) {
    view_state *view = static_cast<view_state *>(std::calloc(1, sizeof(view_state)));
    FILE *file = std::fopen(path.c_str(), "rb");
    set_page_geometry(*view, 80, 24);
    view->bytes_read = static_cast<uint32_t>(std::fread(view->page_text, 1, FV_READ_SIZE, file));
    std::fseek(file, format_page(*view), SEEK_SET);
    std::strcpy(view->search_words[0], kWord);
    view->word_count = 1;

    auto start = Clock::now();
    view->scan_position = 0;
    while (!scan_page(*view, same_word) && view->more_text != 0 && view->page_index < FV_PAGE_LIMIT_PAGES - 1) {
        view->page_index += 1;
        view->page_offsets[view->page_index] = static_cast<uint32_t>(std::ftell(file));
        view->bytes_read = static_cast<uint32_t>(std::fread(view->page_text, 1, FV_READ_SIZE, file));
        uint32_t stop = format_page(*view);
        std::fseek(file, static_cast<long>(view->page_offsets[view->page_index]) + stop, SEEK_SET);
        view->scan_position = 0;
    }
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    Result r{seconds, view->page_index, view->page_offsets[view->page_index]};
    std::fclose(file);
    std::free(view);
    return r;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char **argv) {
    int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    BbsOptions options;
    options.plugins = {"KRVFV"};
    Bbs bbs(options);
    if (!bbs.start_errors().empty()) {
        std::fprintf(stderr, "the BBS did not start: %s\n", bbs.start_errors()[0].c_str());
        return 1;
    }
    const std::string path = bbs.directory() + "/BIG.TXT";
    std::string text = make_text();
    std::ofstream(path, std::ios::binary) << text;
    bbs.add_user("Reader", "secret1");  // an 80 x 24 screen
    int n = bbs.log_on("Reader", "secret1");
    bbs.take_output(n);

    std::vector<double> hosted, plain;
    Result h{}, p{};
    for (int i = 0; i < rounds; ++i) {
        h = hosted_search(bbs, n);
        p = plain_search(path);
        hosted.push_back(h.seconds);
        plain.push_back(p.seconds);
    }
    if (h.page_index != p.page_index || h.offset != p.offset) {
        std::fprintf(stderr, "the two searches ended apart: page %u at %u through the host, page %u at %u plain\n",
                     h.page_index, h.offset, p.page_index, p.offset);
        return 1;
    }
    double th = median(hosted), tp = median(plain);
    uint32_t pages = h.page_index + 1;
    std::printf("File Viewer: a fruitless forward search, %u pages of 78 x 21, of a text of %zu bytes\n", pages,
                text.size());
    std::printf("  ended on page index %u at offset %u (%.0f%% of the text), %d rounds, medians:\n", h.page_index,
                h.offset, 100.0 * h.offset / static_cast<double>(text.size()), rounds);
    std::printf("  through the host's polling: %8.3f ms  (%6.2f us a page, 3 polling calls a page)\n", th * 1e3,
                th * 1e6 / pages);
    std::printf("  the same work in a loop:    %8.3f ms  (%6.2f us a page)\n", tp * 1e3, tp * 1e6 / pages);
    std::printf("  ratio host / loop:          %8.2f\n", th / tp);
    return 0;
}
