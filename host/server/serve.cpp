// Serving a BBS: the console, the telnet front end and the host core on one
// thread, one event loop.
#include "serve.h"

#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "dir_lock.h"
#include "operator.h"
#include "settings.h"
#include "system_clock.h"
#include "telnet_server.h"

namespace fs = std::filesystem;

namespace bbs {

namespace {

const char *kFarewell = "\nThe BBS is shutting down now. Please call again later.\n";

std::string clock_text() {
    time_t t = time(nullptr);
    struct tm local;
    localtime_r(&t, &local);
    char out[16];
    std::strftime(out, sizeof out, "%H:%M:%S", &local);
    return out;
}

void console(const std::string &text) { std::printf("%s %s\n", clock_text().c_str(), text.c_str()); }

void print_summary(const std::string &dir, const HostSettings &settings, int port) {
    std::printf("BBS directory: %s\n", fs::absolute(dir).lexically_normal().c_str());
    std::printf("Modules, in load order:\n");
    int n = 0;
    for (const LoadedModule &m : loaded_modules())
        std::printf("  %2d %-10s %s\n", ++n, m.dll.c_str(), m.status.c_str());
    if (n == 0) std::printf("  (none)\n");
    for (bool password : {false, true}) {
        std::vector<std::string> chain = check_chain(password);
        std::string text;
        for (const std::string &c : chain) text += (text.empty() ? "" : " -> ") + c;
        std::printf("%s check, first called first: %s\n", password ? "Password" : "User-ID", text.c_str());
    }
    std::printf("Listening on %s:%d, %d lines. Stop with Ctrl-C (SIGINT) or SIGTERM.\n", settings.address.c_str(),
                port, settings.lines);
}

}  // namespace

int command_serve(const std::string &dir) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::signal(SIGPIPE, SIG_IGN);
    HostSettings settings;
    std::vector<std::string> errors;
    if (!fs::is_directory(dir)) {
        std::fprintf(stderr, "bbshost: %s is not a directory (make a BBS with: bbshost init DIR)\n", dir.c_str());
        return 1;
    }
    DirectoryLock lock;
    if (!lock.acquire(dir, "serve")) {
        std::fprintf(stderr, "bbshost: %s\n", lock.error().c_str());
        return 1;
    }
    if (!load_settings(dir, settings, errors)) {
        for (const std::string &e : errors) std::fprintf(stderr, "bbshost: %s\n", e.c_str());
        return 1;
    }
    asio::io_context io(1);
    SystemClock clock;
    TelnetOptions options;
    options.address = settings.address;
    options.port = settings.port;
    options.lines = settings.lines;
    options.output_room = settings.line_output_room;
    options.input_limit = settings.input_limit;
    options.write_stall_seconds = settings.output_stall_seconds;
    TelnetServer server(io, options, clock, console);
    std::string error;
    if (!server.listen(error)) {
        std::fprintf(stderr, "bbshost: %s\n", error.c_str());
        return 1;
    }
    set_audit_listener([](const AuditEntry &e) {
        std::printf("%s AUDIT %s %s  %s\n%*s%s\n", clock_text().c_str(), e.date.c_str(), e.time.c_str(),
                    e.summary.c_str(), 15, "", e.detail.c_str());
    });
    bool started = start_host(dir, settings, program_directory(), &server, &clock, errors);
    if (!started) {
        for (const LoadedModule &m : loaded_modules()) std::printf("  %-10s %s\n", m.dll.c_str(), m.status.c_str());
        for (const std::string &e : errors) std::fprintf(stderr, "bbshost: %s\n", e.c_str());
        set_audit_listener(nullptr);
        return 1;
    }
    print_summary(dir, settings, server.bound_port());

    bool stop = false;
    asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](const asio::error_code &ec, int signal) {
        if (ec) return;
        console(std::string("signal ") + (signal == SIGINT ? "SIGINT" : "SIGTERM") + ": shutting down");
        stop = true;
    });
    server.start_accepting();

    int64_t next_tick = 0, next_stall_check = 0;
    while (!stop) {
        int64_t now = clock.monotonic_ms();
        if (now >= next_tick) {
            host_tick();
            next_tick = now + 250;
            int64_t timer = next_timer_ms();
            if (timer >= 0 && timer < next_tick) next_tick = std::max(timer, now + 1);
        }
        if (now >= next_stall_check) {
            server.check_stalled();
            next_stall_check = now + 1000;
        }
        if (polling_pending()) {
            // Polling routines run between rounds of network work; when a
            // round sends nothing (every poller waits for room), wait a
            // little for the network instead of spinning.
            io.poll();
            uint64_t before = server.bytes_queued();
            run_polling_round();
            if (server.bytes_queued() == before) io.run_one_for(std::chrono::milliseconds(5));
        } else {
            int64_t wait = std::max<int64_t>(1, next_tick - clock.monotonic_ms());
            io.run_one_for(std::chrono::milliseconds(wait));
            io.poll();
        }
    }

    server.stop_accepting();
    stop_host(kFarewell);
    // The farewell and the last output get a moment to reach the callers.
    int64_t deadline = clock.monotonic_ms() + 2000;
    while (server.open_connections() > 0 && clock.monotonic_ms() < deadline) io.run_one_for(std::chrono::milliseconds(50));
    server.close_all();
    set_audit_listener(nullptr);
    console("stopped");
    return 0;
}

}  // namespace bbs
