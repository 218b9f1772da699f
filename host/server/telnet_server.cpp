#include "telnet_server.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <libtelnet.h>

namespace bbs {

namespace {

// What we offer and accept. We echo and suppress go-ahead; we want the
// caller's window size and terminal type.
const telnet_telopt_t kTelopts[] = {
    {TELNET_TELOPT_ECHO, TELNET_WILL, TELNET_DONT},
    {TELNET_TELOPT_SGA, TELNET_WILL, TELNET_DO},
    {TELNET_TELOPT_NAWS, TELNET_WONT, TELNET_DO},
    {TELNET_TELOPT_TTYPE, TELNET_WONT, TELNET_DO},
    {-1, 0, 0},
};

// Dead peers are noticed even when nothing is being sent to them; the
// kernel's send buffer is kept modest, so that a caller who stops reading
// shows in the host's own queue (and btuoba) soon, not after megabytes.
void tune_socket(asio::ip::tcp::socket &s) {
    int fd = s.native_handle();
    int on = 1, idle = 60, interval = 10, count = 3, send_buffer = 64 * 1024;
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &send_buffer, sizeof send_buffer);
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    asio::error_code ec;
    s.set_option(asio::ip::tcp::no_delay(true), ec);
}

// Escape sequences of cursor and function keys are dropped whole.
enum class Escape { none, started, sequence };

}  // namespace

struct TelnetServer::Connection : std::enable_shared_from_this<Connection> {
    Connection(TelnetServer &s, asio::ip::tcp::socket sock) : server(s), socket(std::move(sock)) {}
    ~Connection() {
        if (telnet != nullptr) telnet_free(telnet);
    }
    TelnetServer &server;
    asio::ip::tcp::socket socket;
    telnet_t *telnet = nullptr;
    int line = -1;               // -1 once the host has let go of it
    std::string peer;
    std::string out;             // encoded bytes waiting for the write in flight
    std::string writing;         // the bytes of the write in flight
    bool write_in_flight = false;
    bool write_posted = false;   // a write will start once the current event is handled
    bool read_in_flight = false;
    bool closing = false;        // write what is queued, then close
    bool closed = false;
    bool password = false;       // typed characters are not echoed
    bool peer_echoes = false;    // the caller refused our echo: his terminal echoes itself
    bool after_cr = false;       // a LF or NUL right after CR belongs to the CR
    Escape escape = Escape::none;
    std::string input;
    int64_t stalled_since = 0;   // when the queue last was empty or last moved
    std::array<char, 4096> buffer;
};

TelnetServer::TelnetServer(asio::io_context &io, TelnetOptions options, ClockPort &clock, Log log)
    : io_(io), options_(std::move(options)), clock_(clock), log_(std::move(log)), acceptor_(io) {
    if (options_.output_limit == 0) options_.output_limit = static_cast<size_t>(options_.output_room) + 65536;
    lines_.resize(static_cast<size_t>(std::max(options_.lines, 0)));
}

TelnetServer::~TelnetServer() { close_all(); }

bool TelnetServer::listen(std::string &error) {
    asio::error_code ec;
    asio::ip::address address = asio::ip::make_address(options_.address, ec);
    if (ec) {
        error = "ADDRESS=" + options_.address + " is not an IP address";
        return false;
    }
    asio::ip::tcp::endpoint endpoint(address, static_cast<unsigned short>(options_.port));
    acceptor_.open(endpoint.protocol(), ec);
    if (!ec) acceptor_.set_option(asio::ip::tcp::acceptor::reuse_address(true), ec);
    if (!ec) acceptor_.bind(endpoint, ec);
    if (!ec) acceptor_.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        error = "cannot listen on " + options_.address + ":" + std::to_string(options_.port) + ": " + ec.message();
        return false;
    }
    bound_port_ = acceptor_.local_endpoint(ec).port();
    return true;
}

void TelnetServer::start_accepting() {
    if (accepting_ || !acceptor_.is_open()) return;
    accepting_ = true;
    accept_next();
}

void TelnetServer::stop_accepting() {
    accepting_ = false;
    asio::error_code ec;
    acceptor_.close(ec);
}

void TelnetServer::accept_next() {
    acceptor_.async_accept([this](const asio::error_code &ec, asio::ip::tcp::socket socket) {
        if (!accepting_) return;
        if (!ec) {
            on_accept(std::move(socket));
        } else if (ec == asio::error::no_descriptors || ec == asio::error::no_buffer_space) {
            // Out of file descriptors: wait a moment rather than spin.
            auto timer = std::make_shared<asio::steady_timer>(io_, std::chrono::milliseconds(100));
            timer->async_wait([this, timer](const asio::error_code &) {
                if (accepting_) accept_next();
            });
            return;
        }
        accept_next();
    });
}

void TelnetServer::refuse(asio::ip::tcp::socket socket) {
    auto s = std::make_shared<asio::ip::tcp::socket>(std::move(socket));
    auto text = std::make_shared<std::string>(options_.busy_text);
    asio::async_write(*s, asio::buffer(*text), [s, text](const asio::error_code &, size_t) {
        asio::error_code ignored;
        s->shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        s->close(ignored);
    });
}

void TelnetServer::on_accept(asio::ip::tcp::socket socket) {
    int line = free_line();
    if (line < 0 || line >= static_cast<int>(lines_.size()) || lines_[line] != nullptr) {
        log_("all lines busy: a call was refused");
        refuse(std::move(socket));
        return;
    }
    tune_socket(socket);
    auto c = std::make_shared<Connection>(*this, std::move(socket));
    asio::error_code ec;
    auto remote = c->socket.remote_endpoint(ec);
    c->peer = ec ? "?" : remote.address().to_string() + ":" + std::to_string(remote.port());
    c->telnet = telnet_init(
        kTelopts,
        [](telnet_t *, telnet_event_t *ev, void *user) {
            auto *conn = static_cast<Connection *>(user);
            conn->server.on_telnet_event(*conn, ev);
        },
        0, c.get());
    if (c->telnet == nullptr) {
        c->socket.close(ec);
        return;
    }
    c->line = line;
    c->stalled_since = clock_.monotonic_ms();
    lines_[line] = c;
    all_.insert(c);
    telnet_negotiate(c->telnet, TELNET_WILL, TELNET_TELOPT_ECHO);
    telnet_negotiate(c->telnet, TELNET_WILL, TELNET_TELOPT_SGA);
    telnet_negotiate(c->telnet, TELNET_DO, TELNET_TELOPT_SGA);
    telnet_negotiate(c->telnet, TELNET_DO, TELNET_TELOPT_NAWS);
    telnet_negotiate(c->telnet, TELNET_DO, TELNET_TELOPT_TTYPE);
    log_("line " + std::to_string(line) + ": call from " + c->peer);
    line_connected(line, 0);
    start_read(c);
}

std::shared_ptr<TelnetServer::Connection> TelnetServer::at_line(int line) const {
    if (line < 0 || line >= static_cast<int>(lines_.size())) return nullptr;
    return lines_[line];
}

size_t TelnetServer::queued(const Connection &c) const { return c.out.size() + c.writing.size(); }

void TelnetServer::start_read(const std::shared_ptr<Connection> &c) {
    if (c->read_in_flight || c->closing || c->closed) return;
    // A caller whose output piles up is not read from until it drains: what
    // he types cannot make the host write more for him.
    if (queued(*c) >= static_cast<size_t>(options_.output_room)) return;
    c->read_in_flight = true;
    c->socket.async_read_some(asio::buffer(c->buffer), [this, c](const asio::error_code &ec, size_t n) {
        c->read_in_flight = false;
        if (c->closed) return;
        if (ec) {
            peer_gone(c, ec == asio::error::eof ? "hung up" : ec.message());
            return;
        }
        on_read(c, n);
    });
}

void TelnetServer::on_read(const std::shared_ptr<Connection> &c, size_t n) {
    telnet_recv(c->telnet, c->buffer.data(), n);
    start_read(c);
}

void TelnetServer::on_telnet_event(Connection &c, telnet_event_t *ev) {
    switch (ev->type) {
    case TELNET_EV_DATA:
        input_bytes(c, ev->data.buffer, ev->data.size);
        break;
    case TELNET_EV_SEND:
        queue(c, ev->data.buffer, ev->data.size);
        break;
    case TELNET_EV_DONT:
        if (ev->neg.telopt == TELNET_TELOPT_ECHO) c.peer_echoes = true;
        break;
    case TELNET_EV_DO:
        if (ev->neg.telopt == TELNET_TELOPT_ECHO) c.peer_echoes = false;
        break;
    case TELNET_EV_WILL:
        if (ev->neg.telopt == TELNET_TELOPT_TTYPE) telnet_ttype_send(c.telnet);
        break;
    case TELNET_EV_SUBNEGOTIATION:
        if (ev->sub.telopt == TELNET_TELOPT_NAWS && ev->sub.size == 4 && c.line >= 0) {
            auto *b = reinterpret_cast<const unsigned char *>(ev->sub.buffer);
            line_set_screen(c.line, (b[0] << 8) | b[1], (b[2] << 8) | b[3]);
        }
        break;
    case TELNET_EV_TTYPE:
        if (ev->ttype.cmd == TELNET_TTYPE_IS && ev->ttype.name != nullptr && c.line >= 0) {
            std::string name(ev->ttype.name);
            if (name.size() > 40) name.resize(40);
            for (char &ch : name)
                if (static_cast<unsigned char>(ch) < 32 || static_cast<unsigned char>(ch) > 126) ch = '?';
            log_("line " + std::to_string(c.line) + ": terminal " + name);
        }
        break;
    case TELNET_EV_ERROR:
        // Only compression errors are fatal, and we never offer compression;
        // a peer that gets here is not speaking telnet.
        if (!c.closing) {
            c.closing = true;
            auto self = c.shared_from_this();
            asio::post(io_, [this, self] { peer_gone(self, "telnet protocol error; dropped"); });
        }
        break;
    default:
        break;  // warnings (an overlong subnegotiation, ...) are dropped with the bytes that caused them
    }
}

void TelnetServer::echo(Connection &c, std::string_view bytes) {
    if (c.password || c.peer_echoes || c.closing) return;
    telnet_send(c.telnet, bytes.data(), bytes.size());
}

void TelnetServer::input_bytes(Connection &c, const char *data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        if (c.closing || c.line < 0) return;
        unsigned char b = static_cast<unsigned char>(data[i]);
        if (c.after_cr) {
            c.after_cr = false;
            if (b == '\n' || b == 0) continue;
        }
        if (c.escape == Escape::started) {
            c.escape = (b == '[' || b == 'O') ? Escape::sequence : Escape::none;
            continue;
        }
        if (c.escape == Escape::sequence) {
            if (b >= 0x40 && b <= 0x7E) c.escape = Escape::none;
            continue;
        }
        if (b == '\r' || b == '\n') {
            c.after_cr = b == '\r';
            end_of_line(c);
            continue;
        }
        if (b == 8 || b == 127) {
            if (!c.input.empty()) {
                // One character, not one byte, of UTF-8 text goes.
                while (c.input.size() > 1 && (static_cast<unsigned char>(c.input.back()) & 0xC0) == 0x80)
                    c.input.pop_back();
                c.input.pop_back();
                echo(c, "\b \b");
            }
            continue;
        }
        if (b == 27) {
            c.escape = Escape::started;
            continue;
        }
        if (b < 32) continue;
        if (static_cast<int>(c.input.size()) >= options_.input_limit) continue;  // the rest of a long line is cut
        c.input.push_back(static_cast<char>(b));
        char ch = static_cast<char>(b);
        echo(c, std::string_view(&ch, 1));
    }
}

void TelnetServer::end_of_line(Connection &c) {
    echo(c, "\r\n");
    std::string text;
    text.swap(c.input);
    c.escape = Escape::none;
    // The host may hang this very line up while it handles the input.
    line_input(c.line, text);
}

void TelnetServer::queue(Connection &c, const char *data, size_t size) {
    if (c.closed) return;
    if (queued(c) + size > options_.output_limit) {
        // A caller who takes nothing of what is sent to him would make the
        // host grow without bound: he is let go.
        if (!c.closing) {
            c.out.clear();
            auto self = c.shared_from_this();
            asio::post(io_, [this, self] { peer_gone(self, "output not taken; dropped"); });
            c.closing = true;
        }
        return;
    }
    if (queued(c) == 0) c.stalled_since = clock_.monotonic_ms();
    c.out.append(data, size);
    bytes_queued_ += size;
    // The write starts after the event in hand is done, so that the echo of
    // a line and the answer to it leave in one packet.
    if (!c.write_in_flight && !c.write_posted) {
        c.write_posted = true;
        auto self = c.shared_from_this();
        asio::post(io_, [this, self] {
            self->write_posted = false;
            start_write(self);
        });
    }
}

void TelnetServer::start_write(const std::shared_ptr<Connection> &c) {
    if (c->write_in_flight || c->closed) return;
    if (c->out.empty()) {
        if (c->closing) close(c);
        return;
    }
    c->writing.swap(c->out);
    c->out.clear();
    c->write_in_flight = true;
    asio::async_write(c->socket, asio::buffer(c->writing), [this, c](const asio::error_code &ec, size_t) {
        c->write_in_flight = false;
        c->writing.clear();
        if (c->closed) return;
        if (ec) {
            peer_gone(c, ec.message());
            return;
        }
        c->stalled_since = clock_.monotonic_ms();
        start_write(c);
        start_read(c);
    });
}

void TelnetServer::send(int line, std::string_view bytes) {
    std::shared_ptr<Connection> c = at_line(line);
    if (c == nullptr || c->closing) return;
    // The host writes LF for a new line; a terminal wants CR LF, and a CR
    // alone is sent as CR NUL.
    std::string text;
    text.reserve(bytes.size() + bytes.size() / 16 + 2);
    for (size_t i = 0; i < bytes.size(); ++i) {
        char ch = bytes[i];
        if (ch == '\n') {
            text += "\r\n";
        } else if (ch == '\r') {
            if (i + 1 < bytes.size() && bytes[i + 1] == '\n') {
                text += "\r\n";
                ++i;
            } else {
                text.append("\r\0", 2);
            }
        } else {
            text.push_back(ch);
        }
    }
    telnet_send(c->telnet, text.data(), text.size());
}

void TelnetServer::hang_up(int line) {
    std::shared_ptr<Connection> c = at_line(line);
    if (c == nullptr) return;
    detach(*c);
    c->closing = true;
    start_write(c);  // closes once the last output is written
}

int TelnetServer::free_room(int line) {
    std::shared_ptr<Connection> c = at_line(line);
    if (c == nullptr) return 0;
    long room = static_cast<long>(options_.output_room) - static_cast<long>(queued(*c));
    return room > 0 ? static_cast<int>(room) : 0;
}

void TelnetServer::set_echo(int line, bool on) {
    if (std::shared_ptr<Connection> c = at_line(line)) c->password = !on;
}

void TelnetServer::detach(Connection &c) {
    if (c.line >= 0 && c.line < static_cast<int>(lines_.size()) && lines_[c.line].get() == &c) {
        log_("line " + std::to_string(c.line) + ": call ended");
        lines_[c.line] = nullptr;
    }
    c.line = -1;
}

void TelnetServer::peer_gone(const std::shared_ptr<Connection> &c, const std::string &why) {
    if (c->line >= 0) log_("line " + std::to_string(c->line) + ": " + why);
    close(c);
}

void TelnetServer::close(const std::shared_ptr<Connection> &c) {
    if (c->closed) return;
    if (c->line >= 0) {
        int line = c->line;
        detach(*c);
        line_dropped(line);  // hang-up routines run; the line is free again
    }
    c->closed = true;
    asio::error_code ec;
    c->socket.shutdown(asio::ip::tcp::socket::shutdown_both, ec);
    c->socket.close(ec);
    all_.erase(c);
}

void TelnetServer::check_stalled() {
    int64_t now = clock_.monotonic_ms();
    std::vector<std::shared_ptr<Connection>> stalled;
    for (const auto &c : all_)
        if (queued(*c) > 0 && now - c->stalled_since >= int64_t{options_.write_stall_seconds} * 1000) stalled.push_back(c);
    for (const auto &c : stalled) peer_gone(c, "output not taken for " + std::to_string(options_.write_stall_seconds) + " s; dropped");
}

void TelnetServer::close_all() {
    std::vector<std::shared_ptr<Connection>> all(all_.begin(), all_.end());
    for (const auto &c : all) {
        c->line = -1;  // the host has already let these lines go, or is gone itself
        close(c);
    }
}

}  // namespace bbs
