#include "ftp/native_engine.h"

#include "frame/error.h"
#include "frame/error_text.h"
#include "frame/text.h"
#include "ftp/ftp_errors.h"
#include "ftp/time_text.h"
#include "net/failure.h"
#include "tls/tls_stream.h"
#include "wininet/error_text.h"

#include <optional>

namespace corvane::ftp {

namespace {

DWORD milliseconds_of(LONG seconds)
{
    return static_cast<DWORD>(seconds) * 1000;
}

char type_of(DWORD transfer_flags)
{
    return (transfer_flags & FTP_TRANSFER_TYPE_BINARY) ? 'I' : 'A';
}

// A reply's text without its last line end, as the platform's record
// holds a reply and as the session's parsers read one.
std::string record_text(std::string_view text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    return std::string(text);
}

std::wstring reply_text(const ftpproto::Reply& reply)
{
    return from_ansi(record_text(reply.text));
}

}  // namespace

template <class Step>
auto NativeEngine::step(const ErrorCode& error, std::wstring_view procedure, Step&& body, const ErrorCode* wait_error)
{
    try {
        return body();
    } catch (const net::Failure& failure) {
        record_.code = 0;
        if (!failure.reply().empty()) {
            last_reply_ = record_text(failure.reply());
            record_.code = reply_code(from_ansi(failure.reply().substr(0, 4)));
        }
        // As the platform's engine words it, so that scripts see one text.
        if (failure.code() == net::codes::timed_out)
            raise_with_reason(wait_error ? *wait_error : error,
                              timed_out_reason(timeout_seconds_));
        raise_step_error(error, failure.code(), procedure, from_ansi(record_text(failure.reply())), failure.reason());
    }
}

namespace {

// A server that closes the control connection where a transfer's final
// reply belongs ended the transfer without saying it was whole: said in
// the words the platform's engine uses for the same end.
template <class Step>
auto ended_without_final_reply(const ErrorCode& error, Step&& body)
{
    try {
        return body();
    } catch (const net::Failure& failure) {
        if (failure.code() != net::codes::control_dropped || !failure.reply().empty())
            throw;
        raise_with_reason(error, L"The transfer ended without the server's final reply.");
    }
}

// TLS from the platform for the control connection and each of its data
// connections, all with one credentials handle and one target name, so that
// the platform can resume the control connection's session on the data
// connections, as servers demand by default.
class PlatformTls final : public ftpproto::StreamSecurer {
public:
    PlatformTls(std::wstring server_name, bool ignore_certificate_errors)
        : session_(std::move(server_name), ignore_certificate_errors)
    {
    }

    std::unique_ptr<net::Stream> secure(std::unique_ptr<net::Stream> stream, bool, DWORD timeout_milliseconds) override
    {
        return session_.open(std::move(stream), timeout_milliseconds);
    }

private:
    tls::TlsSession session_;
};

// A transfer over a data connection of the client's.
class NativeFile final : public RemoteFile {
public:
    NativeFile(NativeEngine& engine, std::unique_ptr<ftpproto::DataTransfer> transfer)
        : engine_(engine), transfer_(std::move(transfer))
    {
    }

    size_t read(std::span<char> buffer, const ErrorCode& wait_error, const ErrorCode& read_error) override
    {
        return engine_.step(read_error, L"InternetReadFile", [&] { return transfer_->read(buffer); }, &wait_error);
    }

    void write(std::span<const char> bytes, size_t& sent, const ErrorCode& error) override
    {
        engine_.step(error, L"InternetWriteFile", [&] {
            transfer_->write(bytes);
            return 0;
        });
        sent = bytes.size();
    }

    unsigned long long size_before_transfer() override { return transfer_->announced_size().value_or(0); }

    void finish(const ErrorCode& error, std::wstring_view procedure) override
    {
        const ftpproto::Reply reply =
            engine_.step(error, procedure, [&] { return ended_without_final_reply(error, [&] { return transfer_->finish(); }); });
        engine_.heard(reply);
        if (!reply.complete())
            raise_with_reason(error, reply.negative() ? reply_text(reply)
                                                      : std::wstring(L"The transfer ended without the server's "
                                                                     L"final reply."));
    }

    void abandon() noexcept override { transfer_->abort(); }

private:
    NativeEngine& engine_;
    std::unique_ptr<ftpproto::DataTransfer> transfer_;
};

}  // namespace

NativeEngine::NativeEngine(const ConnectSettings& settings, ReplyRecord& record)
    : record_(record), timeout_seconds_(settings.timeout_seconds)
{
    record_.code = 0;
    ftpproto::Settings client_settings;
    client_settings.host = settings.host;
    client_settings.port = settings.port;
    client_settings.user = settings.username;
    client_settings.password = settings.password;
    client_settings.timeout_milliseconds = milliseconds_of(settings.timeout_seconds);
    client_settings.passive = settings.passive;
    client_settings.trust_passive_address = settings.trust_passive_address;
    client_settings.security = settings.security == Security::explicit_tls   ? ftpproto::Security::explicit_tls
                               : settings.security == Security::implicit_tls ? ftpproto::Security::implicit_tls
                                                                             : ftpproto::Security::none;
    // The platform's proxy settings name HTTP and SOCKS proxies, which
    // carry no FTP of ours: a proxy is refused rather than passed by.
    if (settings.has_proxy)
        raise_with_reason(errors::open_connection, L"The component's own engine connects directly: it does not "
                                                   L"use a proxy. Clear Proxy or use EnginePlatform.");
    client_ = step(errors::open_connection, L"OpenConnection", [&] {
        // The certificate must name the host as the script wrote it.
        if (settings.security != Security::none)
            client_settings.securer =
                std::make_shared<PlatformTls>(from_ansi(settings.host), settings.ignore_certificate_errors);
        return ftpproto::Client::connect(client_settings);
    });
    heard(client_->last_reply());
    if (!settings.utf8)
        return;
    // A server that lists UTF8 among its features speaks it whether or not
    // it takes OPTS; one that does neither would misread every name.
    const bool listed = step(errors::open_connection, L"OpenConnection", [&] { return client_->has_feature("UTF8"); });
    const ftpproto::Reply reply =
        step(errors::open_connection, L"OpenConnection", [&] { return client_->command("OPTS UTF8 ON"); });
    heard(reply);
    if (reply.negative() && !listed)
        raise_with_reason(errors::open_connection, L"The server refused names in UTF-8: " + reply_text(reply));
}

NativeEngine::~NativeEngine()
{
    if (client_)
        client_->quit();
}

void NativeEngine::heard(const ftpproto::Reply& reply)
{
    if (reply.code == 0)
        return;
    last_reply_ = record_text(reply.text);
    record_.code = reply.code;
}

void NativeEngine::close()
{
    // QUIT is a courtesy: the connection ends whatever the server says.
    if (client_)
        client_->quit();
}

void NativeEngine::set_timeout_seconds(LONG seconds)
{
    timeout_seconds_ = seconds;
    client_->set_timeout(milliseconds_of(seconds));
}

ftpproto::Reply NativeEngine::positive(std::string_view line, const ErrorCode& error, std::wstring_view procedure)
{
    const ftpproto::Reply reply = step(error, procedure, [&] { return client_->command(line); });
    heard(reply);
    if (reply.negative())
        raise_step_error(error, net::codes::negative_reply, procedure, reply_text(reply), {});
    return reply;
}

void NativeEngine::use_type(DWORD transfer_flags, const ErrorCode& error, std::wstring_view procedure)
{
    const char type = type_of(transfer_flags);
    if (type == type_)
        return;
    positive(std::string("TYPE ") + type, error, procedure);
    type_ = type;
}

std::string NativeEngine::execute_command(const WireText& command, VARIANT_BOOL expect_response, DWORD)
{
    const ErrorCode& error = errors::execute_command;
    // A script's command may change the type behind the engine's back
    // (TYPE, or a server's own reset): the next transfer says it again.
    type_ = 0;
    if (expect_response != VARIANT_TRUE) {
        positive(command.ansi(), error, L"ExecuteCommand");
        return {};
    }
    // A command that answers over a data connection (LIST, NLST, RETR ...).
    use_type(FTP_TRANSFER_TYPE_ASCII, error, L"ExecuteCommand");
    auto transfer = step(error, L"ExecuteCommand", [&] { return client_->open_transfer(command.ansi()); });
    heard(transfer->opening_reply());
    std::string data;
    std::vector<char> chunk(64 * 1024);
    for (;;) {
        const size_t count = step(error, L"ExecuteCommand", [&] { return transfer->read(chunk); });
        if (count == 0)
            break;
        data.append(chunk.data(), count);
    }
    const ftpproto::Reply reply = step(error, L"ExecuteCommand", [&] { return transfer->finish(); });
    heard(reply);
    if (reply.negative())
        raise_step_error(error, net::codes::negative_reply, L"ExecuteCommand", reply_text(reply), {});
    return data;
}

std::string NativeEngine::current_directory()
{
    const ftpproto::Reply reply = positive("PWD", errors::retrieve_directory, L"Directory");
    // 257 "<directory>" with any quote inside doubled.
    const std::string& text = reply.text;
    const size_t open = text.find('"');
    if (reply.code != 257 || open == std::string::npos)
        raise_with_reason(errors::retrieve_directory, L"The server's reply names no directory: " + reply_text(reply));
    std::string directory;
    for (size_t index = open + 1; index < text.size(); ++index) {
        if (text[index] == '\r' || text[index] == '\n')
            break;
        if (text[index] == '"') {
            if (index + 1 < text.size() && text[index + 1] == '"') {
                directory += '"';
                ++index;
                continue;
            }
            return directory;
        }
        directory += text[index];
    }
    raise_with_reason(errors::retrieve_directory, L"The server's reply names no directory: " + reply_text(reply));
}

void NativeEngine::change_directory(const WireText& directory)
{
    positive(std::string("CWD ") + directory.ansi(), errors::set_directory, L"Directory");
}

void NativeEngine::create_directory(const WireText& name)
{
    positive(std::string("MKD ") + name.ansi(), errors::create_directory, L"CreateDirectory");
}

void NativeEngine::remove_directory(const WireText& name)
{
    positive(std::string("RMD ") + name.ansi(), errors::remove_directory, L"RemoveDirectory");
}

void NativeEngine::rename(const WireText& old_name, const WireText& new_name)
{
    positive(std::string("RNFR ") + old_name.ansi(), errors::rename_file, L"RenameFile");
    positive(std::string("RNTO ") + new_name.ansi(), errors::rename_file, L"RenameFile");
}

void NativeEngine::delete_file(const WireText& name)
{
    positive(std::string("DELE ") + name.ansi(), errors::delete_file, L"DeleteFile");
}

std::vector<ListingEntry> NativeEngine::list(NameEncoding encoding)
{
    use_type(FTP_TRANSFER_TYPE_ASCII, errors::listing, L"GetDirectoryListing");
    const ftpproto::Client::Listing listing = step(errors::listing_first, L"GetDirectoryListing", [&] {
        return ended_without_final_reply(errors::listing, [&] { return client_->list(); });
    });
    heard(listing.final_reply);
    std::vector<ListingEntry> entries;
    entries.reserve(listing.entries.size());
    // Entries listed together mostly share a time (LIST gives minutes):
    // each run of one time is formatted once.
    std::optional<ULONGLONG> formatted_time;
    std::wstring formatted;
    for (const ftpproto::RemoteEntry& remote : listing.entries) {
        ListingEntry entry;
        entry.name = wire_text_of(remote.name, encoding);
        entry.directory = remote.directory;
        // A directory's size is the server's bookkeeping, not content: 0,
        // as the platform's engine shows it.
        entry.size = remote.directory ? 0 : static_cast<double>(remote.size);
        // One time per entry, as the platform shows a listing's.
        const ULONGLONG time = ULARGE_INTEGER{{remote.modified.dwLowDateTime, remote.modified.dwHighDateTime}}.QuadPart;
        if (formatted_time != time) {
            formatted = file_time_text(remote.modified);
            formatted_time = time;
        }
        entry.last_write_time = formatted;
        entry.last_access_time = entry.last_write_time;
        entry.creation_time = entry.last_write_time;
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::wstring NativeEngine::command_reply(const std::string& command, const ErrorCode& error,
                                         std::wstring_view procedure)
{
    const ftpproto::Reply reply = step(error, procedure, [&] { return client_->command(command); });
    heard(reply);
    if (command.starts_with("TYPE ") && reply.code < 400)
        type_ = command.size() > 5 ? command[5] : 0;
    return reply_text(reply);
}

std::unique_ptr<RemoteFile> NativeEngine::open_file(const WireText& path, Direction direction, DWORD transfer_flags,
                                                    unsigned long long offset, const ErrorCode& error,
                                                    std::wstring_view procedure)
{
    use_type(transfer_flags, error, procedure);
    // REST goes before the data connection is set up, as the platform's
    // engine sends it: servers keep it until the next transfer command.
    if (offset > 0) {
        const ftpproto::Reply reply = step(errors::resume_refused, L"REST",
                                           [&] { return client_->command("REST " + std::to_string(offset)); });
        heard(reply);
        if (reply.negative())
            raise_with_reason(errors::resume_refused, reply_text(reply));
    }
    const std::string line = std::string(direction == Direction::download ? "RETR " : "STOR ") + path.ansi();
    auto transfer = step(error, procedure, [&] { return client_->open_transfer(line); });
    heard(transfer->opening_reply());
    return std::make_unique<NativeFile>(*this, std::move(transfer));
}

}  // namespace corvane::ftp
