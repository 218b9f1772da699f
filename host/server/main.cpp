// bbshost: the BBS host server and the operator's command line.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "operator.h"
#include "serve.h"

namespace {

int usage(FILE *to, int status) {
    std::fprintf(to,
        "usage: bbshost [-d DIR] [COMMAND [ARGS]]\n"
        "Serves the BBS directory DIR (default: the current directory) to callers by telnet.\n"
        "\n"
        "  init DIR               make a ready BBS directory DIR from the demo, with a Sysop account\n"
        "  serve                  serve the BBS until SIGINT or SIGTERM (the default command)\n"
        "  user list              the accounts: user-ID, class, last call, credits, flags\n"
        "  user show ID           one account in full\n"
        "  user add ID [CLASS]    a new account (the password is asked for, or read from stdin)\n"
        "  user set ID FIELD VALUE\n"
        "                         change an account: class, credits, flags (+NAME/-NAME),\n"
        "                         key (+KEY/-KEY), screen-width, screen-length,\n"
        "                         account-date (YYYY-MM-DD: the day the account was made)\n"
        "  user set ID password   a new password (asked for, or read from stdin)\n"
        "  user delete ID         remove an account (every plug-in's account-deletion routine runs)\n"
        "  class list             the classes of CLASSES.CFG with their keys\n"
        "  purge                  remove the accounts tagged for deletion\n"
        "  cleanup                run the daily clean-up now\n"
        "  check                  validate WGSERV.CFG, CLASSES.CFG, every message and descriptor file\n"
        "\n"
        "  -d, --dir DIR          the BBS directory\n"
        "  -h, --help             this text\n");
    return status;
}

}  // namespace

int main(int argc, char **argv) {
    std::string dir = ".";
    std::vector<std::string> words;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-h" || a == "--help" || a == "help") return usage(stdout, 0);
        if ((a == "-d" || a == "--dir") && words.empty()) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "bbshost: %s needs a directory\n", a.c_str());
                return 2;
            }
            dir = argv[++i];
            continue;
        }
        words.push_back(a);
    }
    // The host works in the BBS directory while it runs, so a relative name
    // given here is made absolute first.
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(dir, ec);
    if (!ec) dir = absolute.lexically_normal().string();
    std::string command = words.empty() ? "serve" : words[0];
    std::vector<std::string> args(words.size() > 1 ? words.begin() + 1 : words.end(), words.end());
    if (command == "init" && args.size() == 1) return bbs::command_init(args[0]);
    if (command == "serve" && args.empty()) return bbs::command_serve(dir);
    if (command == "user") return bbs::command_user(dir, args);
    if (command == "class") return bbs::command_class(dir, args);
    if (command == "purge" && args.empty()) return bbs::command_purge(dir);
    if (command == "cleanup" && args.empty()) return bbs::command_cleanup(dir);
    if (command == "check" && args.empty()) return bbs::command_check(dir);
    std::fprintf(stderr, "bbshost: unknown command or wrong arguments: %s\n", command.c_str());
    return usage(stderr, 2);
}
