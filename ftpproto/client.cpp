#include "ftpproto/client.h"

#include "ftpproto/data_replies.h"
#include "net/failure.h"

#include <utility>

namespace corvane::ftpproto {

namespace {

using net::Failure;
namespace codes = net::codes;

// More 1xx replies to one command than any server sends: a server that
// keeps sending them would hold the caller for good, one time-out at a time.
constexpr int most_preliminary_replies = 8;
// A listing line longer than this is no entry anyone could use: counted as
// skipped, never held.
constexpr size_t longest_listing_line = 64 * 1024;
constexpr size_t listing_piece = 64 * 1024;
// Far beyond any real directory; a server that lists without end is
// stopped here instead of filling memory.
constexpr size_t most_listing_entries = 1000000;
// After an upload the server should send nothing but its close; what it
// sends instead is read and dropped up to this much.
constexpr size_t most_drained_after_upload = 64 * 1024;

Failure negative(const Reply& reply, std::wstring reason = {})
{
    return Failure(codes::negative_reply, std::move(reason), reply.text);
}

bool same_letters(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

// Servers that refuse to list an empty directory say so with one of these.
bool refuses_empty_listing(const Reply& reply)
{
    return reply.code == 450 || reply.code == 550;
}

}  // namespace

std::unique_ptr<Client> Client::connect(const Settings& settings)
{
    return log_in(net::TcpStream::connect(settings.host, settings.port, settings.timeout_milliseconds), settings);
}

std::unique_ptr<Client> Client::log_in(std::unique_ptr<net::Stream> control, const Settings& settings)
{
    if (settings.security != Security::none && !settings.securer)
        throw Failure(codes::invalid_response, L"TLS was asked for without a way to set it up.");
    // Implicit TLS: not one byte in clear text, the greeting included.
    if (settings.security == Security::implicit_tls)
        control = settings.securer->secure(std::move(control), false, settings.timeout_milliseconds);
    auto client = std::make_unique<Client>(std::move(control), settings);
    client->greet_and_log_in();
    return client;
}

Client::Client(std::unique_ptr<net::Stream> control, const Settings& settings)
    : settings_(settings), control_(std::move(control)), reader_(*control_)
{
}

Client::~Client() = default;

void Client::greet_and_log_in()
{
    try {
        // 120 announces the 220 to come.
        const Reply greeting = read_final_reply();
        if (!greeting.complete())
            throw negative(greeting);
        if (settings_.security == Security::explicit_tls)
            secure_control();
        Reply reply = command("USER " + settings_.user);
        if (reply.code == 331)
            reply = command("PASS " + settings_.password);
        if (reply.code == 332)
            throw negative(reply, L"The server asks for an account (ACCT), which is not supported.");
        if (!reply.complete())
            throw negative(reply);
        if (settings_.security != Security::none)
            protect_data();
    } catch (...) {
        drop();
        throw;
    }
}

void Client::secure_control()
{
    const Reply reply = command("AUTH TLS");
    if (reply.code != 234)
        throw negative(reply, L"The server refused TLS (AUTH TLS); nothing is sent in clear text instead.");
    // Bytes after the 234 came in clear text, where only the handshake
    // belongs: someone on the path may have put them there.
    if (reader_.has_buffered())
        throw Failure(codes::invalid_response, L"The server sent clear text after agreeing to TLS.");
    control_ = settings_.securer->secure(std::move(control_), false, settings_.timeout_milliseconds);
    reader_.set_stream(*control_);
}

void Client::protect_data()
{
    Reply reply = command("PBSZ 0");
    if (!reply.complete())
        throw negative(reply, L"The server refused PBSZ 0, which TLS on data connections needs.");
    reply = command("PROT P");
    if (!reply.complete())
        throw negative(reply, L"The server refused to protect data connections (PROT P).");
}

std::unique_ptr<net::Stream> Client::protected_data(std::unique_ptr<net::Stream> data)
{
    if (settings_.security == Security::none || !data)
        return data;
    return settings_.securer->secure(std::move(data), true, settings_.timeout_milliseconds);
}

Reply Client::command(std::string_view line)
{
    send_line(line);
    return read_final_reply();
}

const Reply& Client::features()
{
    if (!features_) {
        const Reply reply = command("FEAT");
        features_ = reply.complete() ? reply : Reply{};
    }
    return *features_;
}

bool Client::has_feature(std::string_view name)
{
    // Each feature on a line of its own: " NAME" or " NAME arguments".
    const std::string_view text = features().text;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find("\r\n", start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(start, end - start);
        if (line.size() > 1 && line[0] == ' ' && same_letters(line.substr(1, line.find(' ', 1) - 1), name))
            return true;
        start = end + 2;
    }
    return false;
}

std::unique_ptr<DataTransfer> Client::open_transfer(std::string_view line)
{
    Reply refusal;
    auto transfer = start_transfer(line, refusal);
    if (!transfer)
        throw negative(refusal);
    return transfer;
}

std::unique_ptr<DataTransfer> Client::start_transfer(std::string_view line, Reply& refusal)
{
    if (!control_)
        throw Failure(codes::control_dropped);
    std::unique_ptr<net::Stream> data;
    std::unique_ptr<net::Listener> listener;
    if (settings_.passive)
        data = open_data_connection_passive();
    else
        listener = open_listener_active();

    send_line(line);
    const Reply opening = read_reply();
    if (opening.complete()) {
        // No 1xx first: some servers answer an empty listing so. The one
        // reply opens and ends the transfer, and no data is to come.
        std::unique_ptr<DataTransfer> done(new DataTransfer(*this, nullptr, nullptr, opening));
        done->final_ = opening;
        done->finished_ = true;
        return done;
    }
    if (!opening.preliminary()) {
        refusal = opening;
        return nullptr;
    }
    std::unique_ptr<DataTransfer> transfer(new DataTransfer(*this, std::move(data), std::move(listener), opening));
    if (transfer->listener_) {
        // Should the server never connect, the transfer's end aborts it so
        // that the control connection stays in step.
        transfer->data_ = transfer->listener_->accept(control_->peer(), settings_.timeout_milliseconds);
        transfer->listener_.reset();
    }
    // The server starts TLS on the data connection once it has said 1xx;
    // a handshake that fails aborts the transfer likewise.
    transfer->data_ = protected_data(std::move(transfer->data_));
    return transfer;
}

std::unique_ptr<net::Stream> Client::open_data_connection_passive()
{
    if (!epsv_refused_) {
        const Reply reply = command("EPSV");
        if (reply.code == 229) {
            const auto port = parse_epsv_port(reply.text);
            if (!port)
                throw Failure(codes::invalid_response, L"The server's EPSV reply names no port.", reply.text);
            return net::TcpStream::connect(control_->peer().with_port(*port), settings_.timeout_milliseconds);
        }
        if (reply.code < 500)
            throw negative(reply);
        epsv_refused_ = true;
    }
    const Reply reply = command("PASV");
    if (reply.code != 227)
        throw negative(reply);
    const auto named = parse_pasv_endpoint(reply.text);
    if (!named)
        throw Failure(codes::invalid_response, L"The server's PASV reply names no address.", reply.text);
    // The named address is often a private one the server cannot know is
    // not ours; the control connection's peer is the server for certain.
    const net::Endpoint target = settings_.trust_passive_address ? *named : control_->peer().with_port(named->port());
    return net::TcpStream::connect(target, settings_.timeout_milliseconds);
}

std::unique_ptr<net::Listener> Client::open_listener_active()
{
    auto listener = std::make_unique<net::Listener>(control_->local());
    if (!eprt_refused_) {
        const Reply reply = command("EPRT " + eprt_argument(listener->endpoint()));
        if (reply.complete())
            return listener;
        if (reply.code < 500)
            throw negative(reply);
        eprt_refused_ = true;
    }
    const auto argument = port_argument(listener->endpoint());
    if (!argument)
        throw Failure(codes::negative_reply, L"The server takes no EPRT, and PORT cannot name an IPv6 address.");
    const Reply reply = command("PORT " + *argument);
    if (!reply.complete())
        throw negative(reply);
    return listener;
}

Client::Listing Client::list()
{
    const bool machine_listing = has_feature("MLST");
    Listing listing;
    Reply refusal;
    auto transfer = start_transfer(machine_listing ? "MLSD" : "LIST", refusal);
    if (!transfer) {
        if (!refuses_empty_listing(refusal))
            throw negative(refusal);
        listing.final_reply = refusal;
        return listing;
    }

    SYSTEMTIME now{};
    GetSystemTime(&now);
    const auto take = [&](std::string_view line) {
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            return;
        ListingLine parsed = machine_listing ? parse_mlsd_line(line) : parse_list_line(line, now);
        if (parsed.kind == LineKind::entry) {
            if (listing.entries.size() == most_listing_entries)
                throw Failure(codes::invalid_response, L"The server listed more than a million entries.");
            listing.entries.push_back(std::move(parsed.entry));
        }
        else if (parsed.kind == LineKind::not_understood)
            ++listing.skipped;
    };

    std::string piece(listing_piece, '\0');
    std::string line;
    bool overlong = false;
    bool any_data = false;
    while (const size_t received = transfer->read(piece)) {
        any_data = true;
        std::string_view bytes(piece.data(), received);
        for (;;) {
            const size_t end = bytes.find('\n');
            const std::string_view part = bytes.substr(0, end);
            overlong = overlong || line.size() + part.size() > longest_listing_line;
            if (overlong)
                line.clear();
            else
                line.append(part);
            if (end == std::string_view::npos)
                break;
            if (overlong)
                ++listing.skipped;
            else
                take(line);
            line.clear();
            overlong = false;
            bytes.remove_prefix(end + 1);
        }
    }
    if (overlong)
        ++listing.skipped;
    else
        take(line);

    listing.final_reply = transfer->finish();
    if (listing.final_reply.negative() && (any_data || !refuses_empty_listing(listing.final_reply)))
        throw negative(listing.final_reply);
    return listing;
}

void Client::quit() noexcept
{
    if (!control_)
        return;
    try {
        send_line("QUIT");
        read_reply();
    } catch (...) {
        // Closed below either way.
    }
    drop();
}

void Client::send_line(std::string_view line)
{
    if (!control_)
        throw Failure(codes::control_dropped);
    std::string wire;
    wire.reserve(line.size() + 2);
    wire.append(line).append("\r\n");
    try {
        control_->send(wire, settings_.timeout_milliseconds);
    } catch (...) {
        drop();
        throw;
    }
}

Reply Client::read_reply()
{
    if (!control_)
        throw Failure(codes::control_dropped);
    try {
        last_reply_ = reader_.read(settings_.timeout_milliseconds);
    } catch (...) {
        // A time-out or a reply no parser takes leaves the connection out
        // of step: what comes next would answer some earlier command.
        drop();
        throw;
    }
    return last_reply_;
}

Reply Client::read_final_reply()
{
    Reply reply = read_reply();
    for (int count = 1; reply.preliminary(); ++count) {
        if (count == most_preliminary_replies) {
            drop();
            throw Failure(codes::invalid_response, L"The server sent preliminary replies without end.", reply.text);
        }
        reply = read_reply();
    }
    return reply;
}

void Client::drop() noexcept
{
    control_.reset();
}

DataTransfer::DataTransfer(Client& client, std::unique_ptr<net::Stream> data,
                           std::unique_ptr<net::Listener> listener, Reply opening)
    : client_(client), data_(std::move(data)), listener_(std::move(listener)), opening_(std::move(opening))
{
}

DataTransfer::~DataTransfer()
{
    if (!finished_)
        abort();
}

std::optional<unsigned long long> DataTransfer::announced_size() const
{
    if (opening_.code != 150)
        return std::nullopt;
    return parse_announced_size(opening_.text);
}

size_t DataTransfer::read(std::span<char> buffer)
{
    if (!data_ || buffer.empty())
        return 0;
    return data_->receive(buffer, client_.timeout());
}

void DataTransfer::write(std::span<const char> bytes)
{
    if (!data_)
        throw Failure(codes::connection_ended);
    wrote_ = true;
    data_->send(bytes, client_.timeout());
}

Reply DataTransfer::finish()
{
    if (final_)
        return *final_;
    if (data_ && wrote_) {
        // The upload is whole only when the server has read its end; its
        // close says so.
        data_->end_sending(client_.timeout());
        char scrap[4096];
        size_t drained = 0;
        while (drained <= most_drained_after_upload) {
            const size_t received = data_->receive(scrap, client_.timeout());
            if (received == 0)
                break;
            drained += received;
        }
    }
    data_.reset();
    listener_.reset();
    finished_ = true;
    final_ = client_.read_final_reply();
    return *final_;
}

void DataTransfer::abort() noexcept
{
    if (finished_)
        return;
    finished_ = true;
    try {
        client_.send_line("ABOR");
        data_.reset();
        listener_.reset();
        // Cut off, the transfer ends with a 4xx, and ABOR's own 226 follows.
        // 225 is ABOR's alone. Any other reply may be either the transfer's
        // end, done before ABOR came, or ABOR's only reply: a NOOP's 200
        // shows which, so the next command reads its own reply.
        const Reply reply = client_.read_reply();
        if (reply.code >= 400 && reply.code < 500) {
            client_.read_reply();
        } else if (reply.code != 225) {
            client_.send_line("NOOP");
            const Reply next = client_.read_reply();
            if (next.code == 225 || next.code == 226)
                client_.read_reply();
        }
    } catch (...) {
        client_.drop();
    }
    data_.reset();
    listener_.reset();
}

}  // namespace corvane::ftpproto
