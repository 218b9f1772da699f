// Cost of a caller's round trip through bbshost against a plain echo server,
// measured in the same run, on the same loopback, by the same client.
//
//   telnet_bench [--clients N] [--rounds N] [--warmup N] [--timeout S] [--keep]
//
// The client is one asio event loop on the main thread holding every socket,
// so its own cost is the same for both servers. Each client runs a closed
// loop: it sends a line, waits for the answer, sends the next.
//
//  1. Echo: an asio echo server on its own thread of this process; the answer
//     is the line itself.
//  2. bbshost: a child serving a fresh BBS (made with `bbshost init` in a
//     temporary directory, the test plug-in KRVTSTA its only module). Every
//     client signs up as a new user, reaches the menu and then types the
//     plug-in's global command `testa x`; the answer is the plug-in's reply
//     "The command had 2 words." (after the echo of what was typed).
//
// Printed: p50/p99 of each, the ratio host/echo, the servers' CPU time per
// round trip, and the host's resident memory idle and with every caller on.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <asio.hpp>

namespace fs = std::filesystem;
using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

// ------------------------------------------------------------- options

struct Options {
    int clients = 256;
    int rounds = 200;
    int warmup = 20;
    int timeout_seconds = 60;  // bound on every single wait
    bool keep = false;
};

const int kMaxLines = 256;  // bbshost serves at most this many lines

const char *kUsage =
    "usage: telnet_bench [--clients N] [--rounds N] [--warmup N] [--timeout S] [--keep]\n"
    "Round trips through bbshost (the test plug-in's global command) against a plain\n"
    "echo server on the same loopback, the same client and the same number of rounds.\n"
    "\n"
    "  --clients N   concurrent clients, 1..256 (default 256)\n"
    "  --rounds N    measured round trips per client (default 200)\n"
    "  --warmup N    round trips per client before measuring (default 20)\n"
    "  --timeout S   seconds any single wait may take before the run fails (default 60)\n"
    "  --keep        keep the temporary BBS directory (and the host's log)\n";

struct BenchError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

int parse_int(const std::string &flag, const char *text, int low, int high) {
    if (text == nullptr) throw BenchError(flag + " needs a number");
    char *end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || v < low || v > high)
        throw BenchError(flag + " is " + text + ", expected a whole number in " + std::to_string(low) + ".." +
                         std::to_string(high));
    return static_cast<int>(v);
}

Options parse_options(int argc, char **argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        const char *next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (a == "--clients") {
            o.clients = parse_int(a, next, 1, kMaxLines);
            ++i;
        } else if (a == "--rounds") {
            o.rounds = parse_int(a, next, 1, 1000000);
            ++i;
        } else if (a == "--warmup") {
            o.warmup = parse_int(a, next, 0, 1000000);
            ++i;
        } else if (a == "--timeout") {
            o.timeout_seconds = parse_int(a, next, 1, 3600);
            ++i;
        } else if (a == "--keep") {
            o.keep = true;
        } else {
            throw BenchError("unknown argument " + a + " (see --help)");
        }
    }
    return o;
}

// ------------------------------------------------------------ helpers

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) throw BenchError("cannot write " + path);
}

std::string printable(std::string_view text) {
    std::string out;
    for (char ch : text) {
        if (ch == '\r') out += "\\r";
        else if (ch == '\n') out += "\\n";
        else if (static_cast<unsigned char>(ch) < 32 || ch == 127) out += '.';
        else out += ch;
    }
    return out;
}

std::string upper(std::string s) {
    for (char &c : s) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(const std::string &s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

std::vector<std::string> split_lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// A process's /proc/PID/status field in kB, or -1.
long status_kb(pid_t pid, const char *field) {
    std::string text = read_file("/proc/" + std::to_string(pid) + "/status");
    for (const std::string &line : split_lines(text))
        if (line.rfind(std::string(field) + ":", 0) == 0) return std::strtol(line.c_str() + std::strlen(field) + 1, nullptr, 10);
    return -1;
}

// CPU seconds a process's threads have run so far (the scheduler's count,
// in nanoseconds, rather than the 10 ms ticks of /proc/PID/stat).
double process_cpu_seconds(pid_t pid) {
    const fs::path tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code ec;
    double total = 0;
    int threads = 0;
    for (const auto &task : fs::directory_iterator(tasks, ec)) {
        std::istringstream in(read_file((task.path() / "schedstat").string()));
        unsigned long long ns = 0;
        if (in >> ns) {
            total += static_cast<double>(ns) / 1e9;
            ++threads;
        }
    }
    if (ec || threads == 0) throw BenchError("cannot read the CPU time of process " + std::to_string(pid) + " in " + tasks.string());
    return total;
}

double thread_cpu_seconds(pthread_t thread) {
    clockid_t id;
    timespec ts{};
    if (pthread_getcpuclockid(thread, &id) != 0 || clock_gettime(id, &ts) != 0) return 0;
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Two sockets per client (ours and the echo server's) and some to spare.
void ensure_descriptors(int clients) {
    rlimit r{};
    getrlimit(RLIMIT_NOFILE, &r);
    rlim_t need = static_cast<rlim_t>(2 * clients + 64);
    if (r.rlim_cur >= need) return;
    if (r.rlim_max != RLIM_INFINITY && r.rlim_max < need)
        throw BenchError("the open-file limit is " + std::to_string(r.rlim_max) + "; " + std::to_string(clients) +
                         " clients need " + std::to_string(need) + " (raise it with ulimit -n)");
    r.rlim_cur = need;
    if (setrlimit(RLIMIT_NOFILE, &r) != 0) throw BenchError("cannot raise the open-file limit");
}

int free_port() {
    asio::io_context io;
    tcp::acceptor a(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    return a.local_endpoint().port();
}

// --------------------------------------------------------- child process

// A child with stdin from /dev/null and stdout and stderr to a log file.
// It gets SIGTERM should this program die first.
class Child {
public:
    Child(const std::vector<std::string> &args, const std::string &log) : log_(log) {
        std::vector<char *> argv;
        for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        pid_t parent = getpid();
        pid_ = fork();
        if (pid_ < 0) throw BenchError(std::string("fork failed: ") + std::strerror(errno));
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent) _exit(126);
            int in = open("/dev/null", O_RDONLY);
            int out = open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in < 0 || out < 0) _exit(126);
            dup2(in, 0);
            dup2(out, 1);
            dup2(out, 2);
            execv(argv[0], argv.data());
            const char msg[] = "exec failed\n";
            ssize_t ignored = write(2, msg, sizeof msg - 1);
            (void)ignored;
            _exit(127);
        }
    }
    ~Child() {
        if (running()) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    pid_t pid() const { return pid_; }
    const std::string &log() const { return log_; }
    bool running() const { return pid_ > 0 && !exited_; }

    // True once it has exited (status in status()); waits at most `seconds`.
    bool wait(double seconds) {
        Clock::time_point start = Clock::now();
        while (!exited_) {
            int st = 0;
            pid_t r = waitpid(pid_, &st, WNOHANG);
            if (r == pid_) {
                exited_ = true;
                status_ = st;
                break;
            }
            if (r < 0) throw BenchError(std::string("waitpid failed: ") + std::strerror(errno));
            if (seconds_since(start) >= seconds) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }
    std::string status_text() const {
        if (WIFEXITED(status_)) return "exit status " + std::to_string(WEXITSTATUS(status_));
        if (WIFSIGNALED(status_)) return std::string("killed by signal ") + strsignal(WTERMSIG(status_));
        return "status " + std::to_string(status_);
    }
    bool exited_cleanly() const { return exited_ && WIFEXITED(status_) && WEXITSTATUS(status_) == 0; }

    // SIGTERM, then the exit status; SIGKILL when it does not stop in time.
    void stop(double seconds) {
        if (!running()) return;
        kill(pid_, SIGTERM);
        if (!wait(seconds)) {
            kill(pid_, SIGKILL);
            wait(5);
            throw BenchError("bbshost did not stop within " + std::to_string(static_cast<int>(seconds)) +
                             " s of SIGTERM; killed");
        }
    }

private:
    std::string log_;
    pid_t pid_ = -1;
    bool exited_ = false;
    int status_ = 0;
};

std::string log_tail(const std::string &path, size_t lines) {
    std::vector<std::string> all = split_lines(read_file(path));
    std::string out;
    for (size_t i = all.size() > lines ? all.size() - lines : 0; i < all.size(); ++i) out += "  | " + all[i] + "\n";
    return out.empty() ? "  | (nothing)\n" : out;
}

// ------------------------------------------------------------ the BBS

std::string program_directory() {
    std::error_code ec;
    fs::path p = fs::read_symlink("/proc/self/exe", ec);
    if (ec) throw BenchError("cannot find this program's directory: " + ec.message());
    return p.parent_path().string();
}

// The test plug-in's message file with its timer off (option 3: no ticks).
void install_test_plugin(const std::string &dir) {
    fs::path src(BBS_TEST_PLUGIN_DIR);
    std::error_code ec;
    fs::copy_file(src / "KRVTSTA.MDF", fs::path(dir) / "KRVTSTA.MDF", fs::copy_options::overwrite_existing, ec);
    if (ec) throw BenchError("cannot copy " + (src / "KRVTSTA.MDF").string() + ": " + ec.message());
    std::string mcv = read_file((src / "krvtsta.mcv").string());
    if (mcv.empty()) throw BenchError("cannot read " + (src / "krvtsta.mcv").string());
    std::string out;
    bool set = false;
    for (const std::string &line : split_lines(mcv)) {
        std::string t = trim(line);
        size_t eq = t.rfind('=');
        if (t.rfind("3 ", 0) == 0 && eq != std::string::npos) {
            out += t.substr(0, eq) + "= 0\n";
            set = true;
        } else {
            out += line + "\n";
        }
    }
    if (!set) throw BenchError((src / "krvtsta.mcv").string() + " has no option 3 (the timer's ticks)");
    write_file(dir + "/krvtsta.mcv", out);
}

// WGSERV.CFG of the fresh BBS: the test plug-in alone, our port, every line,
// no idle warning or log-off during the run.
void configure(const std::string &dir, int port) {
    const std::string path = dir + "/WGSERV.CFG";
    std::string text = read_file(path);
    if (text.empty()) throw BenchError("cannot read " + path);
    const std::vector<std::string> ours = {"DLL", "PORT", "LINES", "IDLE_WARN_SECONDS", "IDLE_LIMIT_SECONDS"};
    std::string out = "DLL=KRVTSTA\n";
    for (const std::string &line : split_lines(text)) {
        size_t eq = line.find('=');
        std::string key = eq == std::string::npos ? "" : upper(trim(line.substr(0, eq)));
        if (std::find(ours.begin(), ours.end(), key) == ours.end()) out += line + "\n";
    }
    out += "PORT=" + std::to_string(port) + "\nLINES=" + std::to_string(kMaxLines) +
           "\nIDLE_WARN_SECONDS=0\nIDLE_LIMIT_SECONDS=0\n";
    write_file(path, out);
}

// ------------------------------------------------------------- clients

// Strips telnet commands from what a server sends: negotiations, their
// answers are never sent (the server then echoes, as it does for a caller
// who does not refuse), subnegotiations; IAC IAC is a data byte 255. NULs
// (a CR alone is sent as CR NUL) are dropped.
class TelnetFilter {
public:
    void feed(const char *data, size_t n, std::string &out) {
        for (size_t i = 0; i < n; ++i) {
            unsigned char b = static_cast<unsigned char>(data[i]);
            switch (state_) {
            case State::data:
                if (b == 255) state_ = State::iac;
                else if (b != 0) out.push_back(static_cast<char>(b));
                break;
            case State::iac:
                if (b == 255) out.push_back(static_cast<char>(b)), state_ = State::data;
                else if (b >= 251 && b <= 254) state_ = State::option;  // WILL WONT DO DONT
                else if (b == 250) state_ = State::sub;                  // SB
                else state_ = State::data;
                break;
            case State::option:
                state_ = State::data;
                break;
            case State::sub:
                if (b == 255) state_ = State::sub_iac;
                break;
            case State::sub_iac:
                state_ = b == 240 ? State::data : State::sub;  // SE ends it
                break;
            }
        }
    }

private:
    enum class State { data, iac, option, sub, sub_iac } state_ = State::data;
};

class Run;

// One client socket. It reads all the time; `expect` names the text that
// ends the current wait and what to do when it has come.
class Client {
public:
    Client(Run &run, asio::io_context &io, int number) : run_(run), socket_(io), number_(number) {}

    void connect(const tcp::endpoint &to, std::function<void()> then);
    void expect(std::string marker, std::string what, std::function<void()> then);
    void send(const std::string &line);  // sends line + CR LF
    void close() {
        asio::error_code ec;
        socket_.close(ec);
    }

    int number() const { return number_; }
    bool waiting() const { return !marker_.empty(); }
    Clock::time_point deadline() const { return deadline_; }
    const std::string &what() const { return what_; }
    std::string recent() const { return printable(seen_.size() > 300 ? seen_.substr(seen_.size() - 300) : seen_); }

    // The closed loop of round trips.
    int rounds_done = 0;
    Clock::time_point sent_at;

private:
    void read();
    void check();

    Run &run_;
    tcp::socket socket_;
    int number_;
    TelnetFilter filter_;
    std::array<char, 4096> buffer_;
    std::string text_;   // received, not yet matched
    std::string seen_;   // the last bytes received, for a failure report
    std::string marker_, what_;
    std::function<void()> then_;
    Clock::time_point deadline_;
};

// The client side of one measurement: every client on one event loop, a
// watchdog for the waits, the first failure stops it all.
class Run {
public:
    Run(int clients, int timeout_seconds) : timeout_(std::chrono::seconds(timeout_seconds)), watchdog_(io_) {
        for (int i = 0; i < clients; ++i) clients_.push_back(std::make_unique<Client>(*this, io_, i + 1));
    }

    asio::io_context &io() { return io_; }
    std::vector<std::unique_ptr<Client>> &clients() { return clients_; }
    Clock::duration timeout() const { return timeout_; }

    void fail(const std::string &why) {
        if (error_.empty()) error_ = why;
        io_.stop();
    }
    void fail(const Client &c, const std::string &why) {
        fail("client " + std::to_string(c.number()) + ": " + why + " while waiting for " + c.what() +
             "; last text received: \"" + c.recent() + "\"");
    }

    // Runs the loop until every client has called done() or one has failed.
    void run(const std::string &phase) {
        pending_ = static_cast<int>(clients_.size());
        error_.clear();
        io_.restart();
        arm_watchdog();
        io_.run();
        watchdog_.cancel();
        io_.restart();
        io_.poll();  // let the cancelled watchdog's handler finish
        if (!error_.empty()) throw BenchError(phase + ": " + error_);
    }
    void done() {
        if (--pending_ == 0) io_.stop();
    }
    void count_read() { ++reads_; }
    uint64_t reads() const { return reads_; }

    void close_all() {
        for (auto &c : clients_) c->close();
    }

private:
    void arm_watchdog() {
        watchdog_.expires_after(std::chrono::milliseconds(100));
        watchdog_.async_wait([this](const asio::error_code &ec) {
            if (ec) return;
            Clock::time_point now = Clock::now();
            for (auto &c : clients_)
                if (c->waiting() && now > c->deadline())
                    return fail(*c, "no answer within " +
                                        std::to_string(std::chrono::duration_cast<std::chrono::seconds>(timeout_).count()) +
                                        " s");
            arm_watchdog();
        });
    }

    asio::io_context io_{1};
    Clock::duration timeout_;
    asio::steady_timer watchdog_;
    std::vector<std::unique_ptr<Client>> clients_;
    int pending_ = 0;
    uint64_t reads_ = 0;
    std::string error_;
};

void Client::connect(const tcp::endpoint &to, std::function<void()> then) {
    marker_ = "\x01connect";  // waiting, but for no text
    what_ = "the connection";
    deadline_ = Clock::now() + run_.timeout();
    socket_.async_connect(to, [this, then = std::move(then)](const asio::error_code &ec) {
        if (ec) return run_.fail(*this, "connection refused or failed (" + ec.message() + ")");
        asio::error_code ignored;
        socket_.set_option(tcp::no_delay(true), ignored);
        marker_.clear();
        read();
        then();
    });
}

void Client::expect(std::string marker, std::string what, std::function<void()> then) {
    marker_ = std::move(marker);
    what_ = std::move(what);
    then_ = std::move(then);
    deadline_ = Clock::now() + run_.timeout();
    check();
}

void Client::send(const std::string &line) {
    auto bytes = std::make_shared<std::string>(line + "\r\n");
    asio::async_write(socket_, asio::buffer(*bytes), [this, bytes](const asio::error_code &ec, size_t) {
        if (ec) run_.fail(*this, "sending failed (" + ec.message() + ")");
    });
}

void Client::read() {
    socket_.async_read_some(asio::buffer(buffer_), [this](const asio::error_code &ec, size_t n) {
        if (ec == asio::error::operation_aborted) return;
        if (ec) {
            std::string why = ec == asio::error::eof ? "the server closed the connection" : "reading failed (" + ec.message() + ")";
            if (seen_.find("All lines are busy") != std::string::npos) why = "the call was refused: all lines are busy";
            return run_.fail(*this, why);
        }
        run_.count_read();
        size_t before = text_.size();
        filter_.feed(buffer_.data(), n, text_);
        seen_.append(text_, before, std::string::npos);
        if (seen_.size() > 4096) seen_.erase(0, seen_.size() - 1024);
        check();
        read();
    });
}

void Client::check() {
    if (marker_.empty()) return;
    size_t at = text_.find(marker_);
    if (at == std::string::npos) return;
    text_.erase(0, at + marker_.size());
    marker_.clear();
    auto then = std::move(then_);
    then_ = nullptr;
    then();
}

// The closed loop: `warmup` unrecorded round trips, then `rounds` recorded
// ones; each sends `line` and waits for `answer`.
struct Loop {
    std::string line, answer, what;
    int warmup = 0, rounds = 0;
    std::vector<double> *samples = nullptr;  // seconds per recorded round trip
};

void next_round(Run &run, Client &c, const Loop &loop) {
    if (c.rounds_done == loop.warmup + loop.rounds) return run.done();
    c.sent_at = Clock::now();
    c.send(loop.line);
    c.expect(loop.answer, loop.what, [&run, &c, &loop] {
        double seconds = std::chrono::duration<double>(Clock::now() - c.sent_at).count();
        if (c.rounds_done >= loop.warmup) loop.samples->push_back(seconds);
        ++c.rounds_done;
        next_round(run, c, loop);
    });
}

struct LoopResult {
    std::vector<double> samples;
    double wall_seconds = 0;
    double round_trips = 0;  // warm-up included
    double client_cpu_seconds = 0;
    uint64_t reads = 0;      // reads the clients made
};

LoopResult closed_loop(Run &run, const std::string &phase, const Options &o, const std::string &line,
                       const std::string &answer, const std::string &what) {
    LoopResult r;
    r.samples.reserve(static_cast<size_t>(o.clients) * static_cast<size_t>(o.rounds));
    Loop loop{line, answer, what, o.warmup, o.rounds, &r.samples};
    for (auto &c : run.clients()) c->rounds_done = 0;
    Clock::time_point start = Clock::now();
    double cpu_before = thread_cpu_seconds(pthread_self());
    uint64_t reads_before = run.reads();
    for (auto &c : run.clients()) {
        Client *client = c.get();
        asio::post(run.io(), [&run, client, &loop] { next_round(run, *client, loop); });
    }
    run.run(phase);
    r.wall_seconds = seconds_since(start);
    r.client_cpu_seconds = thread_cpu_seconds(pthread_self()) - cpu_before;
    r.reads = run.reads() - reads_before;
    r.round_trips = static_cast<double>(o.clients) * (o.warmup + o.rounds);
    if (r.samples.size() != static_cast<size_t>(o.clients) * static_cast<size_t>(o.rounds))
        throw BenchError(phase + ": " + std::to_string(r.samples.size()) + " round trips recorded, expected " +
                         std::to_string(o.clients * o.rounds));
    return r;
}

// --------------------------------------------------------- echo server

// A plain asio echo server: what is read is written back.
class EchoServer {
public:
    EchoServer() : acceptor_(io_, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)) {
        acceptor_.listen(asio::socket_base::max_listen_connections);
        accept();
        thread_ = std::thread([this] {
            try {
                io_.run();
            } catch (const std::exception &e) {
                std::fprintf(stderr, "telnet_bench: echo server: %s\n", e.what());
                std::_Exit(1);
            }
        });
    }
    ~EchoServer() {
        io_.stop();
        thread_.join();
    }
    tcp::endpoint endpoint() const { return acceptor_.local_endpoint(); }
    double cpu_seconds() { return thread_cpu_seconds(thread_.native_handle()); }

private:
    struct Session : std::enable_shared_from_this<Session> {
        explicit Session(tcp::socket s) : socket(std::move(s)) {}
        void read() {
            auto self = shared_from_this();
            socket.async_read_some(asio::buffer(buffer), [self](const asio::error_code &ec, size_t n) {
                if (!ec) self->write(n);
            });
        }
        void write(size_t n) {
            auto self = shared_from_this();
            asio::async_write(socket, asio::buffer(buffer, n), [self](const asio::error_code &ec, size_t) {
                if (!ec) self->read();
            });
        }
        tcp::socket socket;
        std::array<char, 4096> buffer;
    };

    void accept() {
        acceptor_.async_accept([this](const asio::error_code &ec, tcp::socket s) {
            if (!ec) {
                asio::error_code ignored;
                s.set_option(tcp::no_delay(true), ignored);
                std::make_shared<Session>(std::move(s))->read();
            }
            accept();
        });
    }

    asio::io_context io_{1};
    tcp::acceptor acceptor_;
    std::thread thread_;
};

// ------------------------------------------------------------- report

struct Stats {
    double p50 = 0, p99 = 0, mean = 0, max = 0, rate = 0, cpu_per_trip = 0, client_cpu_per_trip = 0, reads_per_trip = 0;
};

double percentile(const std::vector<double> &sorted, double p) {
    // Nearest rank.
    size_t rank = static_cast<size_t>(std::ceil(p * static_cast<double>(sorted.size())));
    return sorted[std::clamp<size_t>(rank, 1, sorted.size()) - 1];
}

Stats summarize(LoopResult r, double cpu_seconds) {
    Stats s;
    std::sort(r.samples.begin(), r.samples.end());
    s.p50 = percentile(r.samples, 0.50);
    s.p99 = percentile(r.samples, 0.99);
    double sum = 0;
    for (double v : r.samples) sum += v;
    s.mean = sum / static_cast<double>(r.samples.size());
    s.max = r.samples.back();
    s.rate = r.round_trips / r.wall_seconds;
    s.cpu_per_trip = cpu_seconds / r.round_trips;
    s.client_cpu_per_trip = r.client_cpu_seconds / r.round_trips;
    s.reads_per_trip = static_cast<double>(r.reads) / r.round_trips;
    return s;
}

void print_row(const char *name, const Stats &s) {
    std::printf("  %-24s %9.3f %9.3f %9.3f %9.3f %9.0f %9.1f %9.1f %9.2f\n", name, s.p50 * 1e3, s.p99 * 1e3,
                s.mean * 1e3, s.max * 1e3, s.rate, s.cpu_per_trip * 1e6, s.client_cpu_per_trip * 1e6, s.reads_per_trip);
}

std::string kb(long v) { return v < 0 ? "?" : std::to_string(v) + " kB"; }

// ------------------------------------------------------------- phases

Stats measure_echo(const Options &o) {
    EchoServer server;
    Run run(o.clients, o.timeout_seconds);
    for (auto &c : run.clients()) c->connect(server.endpoint(), [&run] { run.done(); });
    run.run("echo server: connecting");
    double cpu_before = server.cpu_seconds();
    LoopResult r = closed_loop(run, "echo server: round trips", o, "testa x", "testa x\r\n", "the echo of the line");
    double cpu = server.cpu_seconds() - cpu_before;
    run.close_all();
    return summarize(std::move(r), cpu);
}

struct HostResult {
    Stats stats;
    double signup_seconds = 0;
    long rss_idle = -1, hwm_idle = -1, rss_on = -1, hwm_on = -1, rss_after = -1, hwm_after = -1;
};

// The sign-up road of one caller, from the first prompt to the menu.
void sign_up(Run &run, Client &c) {
    char id[32];
    std::snprintf(id, sizeof id, "Bench %03d", c.number());
    std::string user_id = id;
    std::string password = "pw" + std::to_string(c.number()) + "bench";
    c.expect("User-ID (or NEW to sign up): ", "the user-ID prompt", [&run, &c, user_id, password] {
        c.send("NEW");
        c.expect("Choose a user-ID", "the new user-ID prompt", [&run, &c, user_id, password] {
            c.send(user_id);
            c.expect("Choose a password", "the password prompt", [&run, &c, password] {
                c.send(password);
                c.expect("Type it again", "the second password prompt", [&run, &c, password] {
                    c.send(password);
                    c.expect("Your choice: ", "the menu", [&run] { run.done(); });
                });
            });
        });
    });
}

HostResult measure_host(const Options &o, const std::string &tmp, std::unique_ptr<Child> &child) {
    HostResult h;
    const std::string bin = program_directory();
    const std::string bbshost = bin + "/bbshost";
    if (access(bbshost.c_str(), X_OK) != 0) throw BenchError(bbshost + " is missing (build the bbshost target)");
    if (access((bin + "/KRVTSTA.so").c_str(), R_OK) != 0)
        throw BenchError(bin + "/KRVTSTA.so is missing (build the KRVTSTA target)");

    const std::string dir = tmp + "/bbs";
    {
        Child init({bbshost, "init", dir}, tmp + "/init.txt");
        if (!init.wait(o.timeout_seconds)) throw BenchError("bbshost init did not finish in time");
        if (!init.exited_cleanly())
            throw BenchError("bbshost init failed (" + init.status_text() + "):\n" + log_tail(init.log(), 20));
    }
    install_test_plugin(dir);
    int port = free_port();
    configure(dir, port);

    child = std::make_unique<Child>(std::vector<std::string>{bbshost, "-d", dir, "serve"}, tmp + "/bbshost.log");
    Clock::time_point start = Clock::now();
    while (read_file(child->log()).find("Listening on") == std::string::npos) {
        if (child->wait(0)) throw BenchError("bbshost stopped before it listened (" + child->status_text() + ")");
        if (seconds_since(start) > o.timeout_seconds) throw BenchError("bbshost did not listen within the timeout");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    h.rss_idle = status_kb(child->pid(), "VmRSS");
    h.hwm_idle = status_kb(child->pid(), "VmHWM");

    Run run(o.clients, o.timeout_seconds);
    tcp::endpoint to(asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port));
    start = Clock::now();
    for (auto &c : run.clients()) {
        Client *client = c.get();
        client->connect(to, [&run, client] { sign_up(run, *client); });
    }
    run.run("bbshost: signing up " + std::to_string(o.clients) + " callers");
    h.signup_seconds = seconds_since(start);
    h.rss_on = status_kb(child->pid(), "VmRSS");
    h.hwm_on = status_kb(child->pid(), "VmHWM");

    double cpu_before = process_cpu_seconds(child->pid());
    LoopResult r = closed_loop(run, "bbshost: round trips", o, "testa x", "The command had 2 words.\r\n",
                               "the answer to \"testa x\"");
    double cpu = process_cpu_seconds(child->pid()) - cpu_before;
    h.rss_after = status_kb(child->pid(), "VmRSS");
    h.hwm_after = status_kb(child->pid(), "VmHWM");
    h.stats = summarize(std::move(r), cpu);

    run.close_all();
    child->stop(o.timeout_seconds);
    if (!child->exited_cleanly())
        throw BenchError("bbshost ended with " + child->status_text() + " after SIGTERM");
    return h;
}

}  // namespace

int main(int argc, char **argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    signal(SIGPIPE, SIG_IGN);
    Options o;
    try {
        o = parse_options(argc, argv);
        ensure_descriptors(o.clients);
    } catch (const BenchError &e) {
        std::fprintf(stderr, "telnet_bench: %s\n", e.what());
        return 2;
    }

    std::string tmp_template = (fs::temp_directory_path() / "telnet_bench.XXXXXX").string();
    if (mkdtemp(tmp_template.data()) == nullptr) {
        std::fprintf(stderr, "telnet_bench: cannot make a temporary directory: %s\n", std::strerror(errno));
        return 1;
    }
    const std::string tmp = tmp_template;

    std::unique_ptr<Child> child;
    int status = 0;
    try {
        std::printf("telnet_bench: %d clients, %d round trips each after %d warm-up, one client event loop\n",
                    o.clients, o.rounds, o.warmup);
        std::printf("echo server ...\n");
        Stats echo = measure_echo(o);
        std::printf("bbshost ...\n");
        HostResult host = measure_host(o, tmp, child);

        std::printf("\nRound trip, from sending the line to the whole answer, %d x %d samples each\n", o.clients,
                    o.rounds);
        std::printf("(ms; trips/s of the whole loop; CPU us per round trip of the server and of the client;\n"
                    " reads the client made per round trip)\n");
        std::printf("  %-24s %9s %9s %9s %9s %9s %9s %9s %9s\n", "", "p50", "p99", "mean", "max", "trips/s",
                    "srv cpu", "cli cpu", "reads");
        print_row("echo (asio, \"testa x\")", echo);
        print_row("bbshost (\"testa x\")", host.stats);
        std::printf("  %-24s %9.2f %9.2f %9.2f %9.2f %9.2f %9.2f %9.2f %9.2f\n", "ratio host/echo",
                    host.stats.p50 / echo.p50, host.stats.p99 / echo.p99, host.stats.mean / echo.mean,
                    host.stats.max / echo.max, host.stats.rate / echo.rate, host.stats.cpu_per_trip / echo.cpu_per_trip,
                    host.stats.client_cpu_per_trip / echo.client_cpu_per_trip,
                    host.stats.reads_per_trip / echo.reads_per_trip);
        std::printf("\nbbshost: %d callers signed up (NEW) and at the menu in %.2f s\n", o.clients, host.signup_seconds);
        std::printf("bbshost memory             %12s %12s\n", "VmRSS", "VmHWM");
        std::printf("  listening, no caller     %12s %12s\n", kb(host.rss_idle).c_str(), kb(host.hwm_idle).c_str());
        std::printf("  %3d callers at the menu  %12s %12s\n", o.clients, kb(host.rss_on).c_str(), kb(host.hwm_on).c_str());
        std::printf("  %3d callers, after loop  %12s %12s\n", o.clients, kb(host.rss_after).c_str(),
                    kb(host.hwm_after).c_str());
        if (host.rss_on >= 0 && host.rss_idle >= 0)
            std::printf("  per caller (at the menu, less idle): %.1f kB\n",
                        static_cast<double>(host.rss_on - host.rss_idle) / o.clients);
        std::printf("bbshost stopped by SIGTERM: %s\n", child->status_text().c_str());
    } catch (const std::exception &e) {
        std::fprintf(stderr, "telnet_bench: FAILED: %s\n", e.what());
        if (child) {
            try {
                child->stop(10);
                std::fprintf(stderr, "telnet_bench: bbshost stopped: %s\n", child->status_text().c_str());
            } catch (const std::exception &stop_error) {
                std::fprintf(stderr, "telnet_bench: %s\n", stop_error.what());
            }
            std::fprintf(stderr, "telnet_bench: the host's output (%s), last lines:\n%s", child->log().c_str(),
                         log_tail(child->log(), 40).c_str());
        }
        status = 1;
    }

    if (o.keep || status != 0) {
        std::printf("temporary directory kept: %s\n", tmp.c_str());
    } else {
        std::error_code ec;
        fs::remove_all(tmp, ec);
    }
    return status;
}
