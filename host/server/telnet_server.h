// The telnet front end: one TCP connection is one line of the BBS. Runs on
// the thread of its io_context, the same thread as the host core.
#ifndef BBS_TELNET_SERVER_H
#define BBS_TELNET_SERVER_H

#include <array>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <asio.hpp>

#include "core.h"

struct telnet_t;
union telnet_event_t;

namespace bbs {

struct TelnetOptions {
    std::string address = "127.0.0.1";
    int port = 2323;
    int lines = 16;                  // connections served at once; the next is told all lines are busy
    int output_room = 16384;         // what btuoba reports for an empty queue
    size_t output_limit = 0;         // queued bytes beyond which a caller who does not read is dropped
                                     // (0: output_room + 64 KiB)
    int input_limit = 255;           // longer input lines are cut
    int write_stall_seconds = 120;   // output waiting this long without a byte taken: the caller is gone
    std::string busy_text = "\r\nAll lines are busy. Please call again later.\r\n";
};

class TelnetServer : public TerminalPort {
public:
    using Log = std::function<void(const std::string &)>;
    TelnetServer(asio::io_context &io, TelnetOptions options, ClockPort &clock, Log log);
    ~TelnetServer() override;

    // Binds and listens; false with the reason when the address cannot be had.
    bool listen(std::string &error);
    // Takes calls from now on.
    void start_accepting();
    // Port actually bound (the configured one, or the one the system chose for port 0).
    int bound_port() const { return bound_port_; }

    // Drops callers whose output has not moved for write_stall_seconds.
    void check_stalled();
    // Connections still open (lines in use and connections being closed).
    size_t open_connections() const { return all_.size(); }
    // Closes every connection at once (after the last output had its chance).
    void close_all();
    void stop_accepting();
    uint64_t bytes_queued() const { return bytes_queued_; }

    // TerminalPort.
    void send(int line, std::string_view bytes) override;
    void hang_up(int line) override;
    int free_room(int line) override;
    void set_echo(int line, bool on) override;

    struct Connection;

private:
    friend struct Connection;
    void accept_next();
    void on_accept(asio::ip::tcp::socket socket);
    void refuse(asio::ip::tcp::socket socket);
    void start_read(const std::shared_ptr<Connection> &c);
    void on_read(const std::shared_ptr<Connection> &c, size_t n);
    void on_telnet_event(Connection &c, telnet_event_t *ev);
    void input_bytes(Connection &c, const char *data, size_t size);
    void end_of_line(Connection &c);
    void echo(Connection &c, std::string_view bytes);
    void queue(Connection &c, const char *data, size_t size);
    void start_write(const std::shared_ptr<Connection> &c);
    void peer_gone(const std::shared_ptr<Connection> &c, const std::string &why);
    void detach(Connection &c);
    void close(const std::shared_ptr<Connection> &c);
    size_t queued(const Connection &c) const;
    std::shared_ptr<Connection> at_line(int line) const;

    asio::io_context &io_;
    TelnetOptions options_;
    ClockPort &clock_;
    Log log_;
    asio::ip::tcp::acceptor acceptor_;
    int bound_port_ = 0;
    bool accepting_ = false;
    std::vector<std::shared_ptr<Connection>> lines_;   // by line number
    std::set<std::shared_ptr<Connection>> all_;
    uint64_t bytes_queued_ = 0;
};

}  // namespace bbs

#endif
