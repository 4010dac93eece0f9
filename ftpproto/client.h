#pragma once
// The component's own FTP client over Winsock: one control connection, its
// data connections, and nothing of the session's policy (which commands,
// which names, which errors scripts see): that stays with ftp::Session.
//
// Every call that waits on the server is bounded by the client's time-out,
// per wait. Every failure raises net::Failure with the WinInet code of the
// same fault (net/failure.h); a negative reply is no failure of command(),
// whose caller judges it, but is one where a step cannot go on without a
// positive one (login, a data connection's setup), and then raises
// codes::negative_reply with the reply.

#include "ftpproto/listing_lines.h"
#include "ftpproto/reply.h"
#include "ftpproto/reply_reader.h"
#include "net/stream.h"
#include "net/tcp.h"

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::ftpproto {

// How the connections are protected.
enum class Security {
    // Clear text.
    none,
    // AUTH TLS on the ordinary port, then PBSZ 0 and PROT P.
    explicit_tls,
    // TLS from the first byte.
    implicit_tls,
};

// Wraps a connected stream in TLS: the control connection once, and every
// data connection of it, which may ask for the control connection's TLS
// session again (servers demand that by default). Raises net::Failure
// when the handshake or the server's certificate fails.
class StreamSecurer {
public:
    virtual ~StreamSecurer() = default;
    virtual std::unique_ptr<net::Stream> secure(std::unique_ptr<net::Stream> stream, bool data_connection,
                                                DWORD timeout_milliseconds) = 0;
};

struct Settings {
    // Bytes as they go on the wire; the caller has proved them free of CR,
    // LF and NUL.
    std::string host;
    unsigned short port = 21;
    std::string user;
    std::string password;
    DWORD timeout_milliseconds = 60000;
    // Passive: EPSV, then PASV. Active: EPRT, then PORT, on the control
    // connection's local address.
    bool passive = false;
    // Connect to the address a 227 reply names instead of the control
    // connection's peer (which a server behind NAT may misname).
    bool trust_passive_address = false;
    Security security = Security::none;
    // Required unless security is none.
    std::shared_ptr<StreamSecurer> securer;
};

class DataTransfer;

class Client {
public:
    // Connects, reads the greeting, sends USER and PASS, protected as
    // settings.security says: nothing ever falls back to clear text, and
    // USER and PASS go only over a connection whose handshake succeeded;
    // a refused AUTH TLS, PBSZ or PROT raises codes::negative_reply with
    // the step named in the reason. A server that asks for ACCT is refused (codes::negative_reply, reason says so); the
    // control connection is closed on any failure.
    static std::unique_ptr<Client> connect(const Settings& settings);
    // The same over a control connection already made (by a test, or a
    // secured one).
    static std::unique_ptr<Client> log_in(std::unique_ptr<net::Stream> control, const Settings& settings);
    // A control connection already made and logged in (or a test's).
    Client(std::unique_ptr<net::Stream> control, const Settings& settings);
    ~Client();

    void set_timeout(DWORD milliseconds) { settings_.timeout_milliseconds = milliseconds; }
    DWORD timeout() const { return settings_.timeout_milliseconds; }
    void set_passive(bool passive) { settings_.passive = passive; }
    void set_trust_passive_address(bool trust) { settings_.trust_passive_address = trust; }

    // `line` (without CR LF) is sent and the reply read, whatever its code.
    Reply command(std::string_view line);
    // The greeting, the last reply of any step, as the server sent it.
    const Reply& last_reply() const { return last_reply_; }
    // FEAT's reply, asked once per connection; an empty Reply when refused.
    const Reply& features();
    bool has_feature(std::string_view name);

    // Sets up a data connection, sends `line` (RETR, STOR, APPE, LIST,
    // MLSD, NLST ...) and reads the server's preliminary reply. A negative
    // one raises codes::negative_reply with it, the data connection closed.
    // A 2xx straight away (some servers' empty listing) is taken as both
    // the opening and the final reply: no data, finish() returns it.
    std::unique_ptr<DataTransfer> open_transfer(std::string_view line);

    struct Listing {
        std::vector<RemoteEntry> entries;
        // Lines that were no entry and no known non-entry.
        size_t skipped = 0;
        // 450 or 550 with no data at all stands for an empty directory
        // (servers that refuse to list one); any other negative reply raises.
        Reply final_reply;
    };
    // The current directory: MLSD when FEAT lists MLST, else LIST.
    Listing list();

    // QUIT, its reply awaited within the time-out, then closed. Never raises.
    void quit() noexcept;
    bool connected() const { return control_ != nullptr; }

private:
    friend class DataTransfer;
    void greet_and_log_in();
    // AUTH TLS and the handshake on the control connection.
    void secure_control();
    // PBSZ 0 and PROT P, after the login.
    void protect_data();
    // The data connection of a transfer under way, in TLS when protected.
    std::unique_ptr<net::Stream> protected_data(std::unique_ptr<net::Stream> data);
    // Sends without reading; raises on a fault, and a fault closes.
    void send_line(std::string_view line);
    Reply read_reply();
    // The reply after any 1xx ones.
    Reply read_final_reply();
    // As open_transfer(), but a negative opening reply is handed back in
    // `refusal` (and nullptr returned) for the caller to judge.
    std::unique_ptr<DataTransfer> start_transfer(std::string_view line, Reply& refusal);
    std::unique_ptr<net::Stream> open_data_connection_passive();
    std::unique_ptr<net::Listener> open_listener_active();
    // Marks the control connection gone after a fault: later calls raise
    // codes::control_dropped without touching the network.
    void drop() noexcept;

    Settings settings_;
    std::unique_ptr<net::Stream> control_;
    ReplyReader reader_;
    Reply last_reply_;
    std::optional<Reply> features_;
    // Remembered per connection once refused.
    bool epsv_refused_ = false;
    bool eprt_refused_ = false;
};

// One data connection and the command it serves. Destroyed unfinished, it
// aborts: ABOR, and whatever replies it brings (426 then 226, one 225/226,
// or the transfer's own end then ABOR's) are drained so the control
// connection stays in step.
class DataTransfer {
public:
    ~DataTransfer();
    DataTransfer(const DataTransfer&) = delete;
    DataTransfer& operator=(const DataTransfer&) = delete;

    const Reply& opening_reply() const { return opening_; }
    // The size a "150 ... (N bytes)" opening reply names, if any.
    std::optional<unsigned long long> announced_size() const;
    // 0 at the end of the data.
    size_t read(std::span<char> buffer);
    void write(std::span<const char> bytes);
    // Ends the data connection (after an upload, our side first, then the
    // server's) and returns the final reply, whatever its code. The end of
    // a transfer is judged by it alone.
    Reply finish();
    // ABOR as described above; never raises.
    void abort() noexcept;

private:
    friend class Client;
    DataTransfer(Client& client, std::unique_ptr<net::Stream> data, std::unique_ptr<net::Listener> listener,
                 Reply opening);

    Client& client_;
    std::unique_ptr<net::Stream> data_;
    std::unique_ptr<net::Listener> listener_;
    Reply opening_;
    // Set once the final reply is read, or when the opening was final.
    std::optional<Reply> final_;
    bool wrote_ = false;
    bool finished_ = false;
};

}  // namespace corvane::ftpproto
