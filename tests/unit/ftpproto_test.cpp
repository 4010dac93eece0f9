// The FTP protocol client: replies however the network splits them, the
// texts that set up data connections, login, the fallbacks remembered, ABOR
// kept in step, and a real server on 127.0.0.1.
#include "ftpproto/client.h"
#include "ftpproto/data_replies.h"
#include "net/failure.h"
#include "tests/integration/loopback_servers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace corvane::ftpproto {
namespace {

using net::codes::control_dropped;
using net::codes::invalid_response;
using net::codes::negative_reply;
using net::codes::timed_out;

constexpr DWORD bound = 10000;
const unsigned char loopback_bytes[4] = {127, 0, 0, 1};

// A control connection that hands out scripted pieces, one a receive, then
// the end (or silence), and keeps what was sent.
class ScriptedStream final : public net::Stream {
public:
    explicit ScriptedStream(std::vector<std::string> pieces, bool silent_at_end = false)
        : pieces_(std::move(pieces)), silent_at_end_(silent_at_end)
    {
    }
    std::string sent;
    std::function<void(std::string_view)> on_send;

    void send(std::span<const char> bytes, DWORD) override
    {
        sent.append(bytes.data(), bytes.size());
        if (on_send)
            on_send({bytes.data(), bytes.size()});
    }
    size_t receive(std::span<char> buffer, DWORD) override
    {
        EXPECT_GE(buffer.size(), 16u * 1024) << "one receive a reply, not one a byte";
        if (pieces_.empty()) {
            if (silent_at_end_)
                throw net::Failure(timed_out);
            return 0;
        }
        const size_t count = std::min(buffer.size(), pieces_.front().size());
        std::copy_n(pieces_.front().begin(), count, buffer.begin());
        pieces_.front().erase(0, count);
        if (pieces_.front().empty())
            pieces_.erase(pieces_.begin());
        return count;
    }
    void end_sending(DWORD) override {}
    const net::Endpoint& local() const override { return address_; }
    const net::Endpoint& peer() const override { return address_; }

private:
    std::vector<std::string> pieces_;
    bool silent_at_end_;
    net::Endpoint address_ = net::Endpoint::ipv4(loopback_bytes, 21);
};

std::vector<std::string> byte_by_byte(std::string_view text)
{
    std::vector<std::string> pieces;
    for (const char c : text)
        pieces.emplace_back(1, c);
    return pieces;
}

LONG failure_of(const std::function<void()>& step)
{
    try {
        step();
    } catch (const net::Failure& failure) {
        return failure.code();
    }
    return 0;
}

TEST(FtpProtoReplyReader, ReadsWholeRepliesAndRefusesWhatIsNone)
{
    std::string too_long_reply = "220-first\r\n";
    for (int line = 0; line < 20; ++line)
        too_long_reply += std::string(60000, 'y') + "\r\n";
    const struct {
        const char* name;
        std::vector<std::string> pieces;
        std::vector<int> replies;
        LONG then;
        std::string first_text;
    } rows[] = {
        {"one line", {"220 hi\r\n"}, {220}, control_dropped, "220 hi\r\n"},
        {"LF alone", {"220 hi\n"}, {220}, control_dropped, "220 hi\r\n"},
        {"byte by byte, multi-line", byte_by_byte("230-a\r\n 230 b\n231 c\r\n230 end\r\n"), {230}, control_dropped,
         "230-a\r\n 230 b\r\n231 c\r\n230 end\r\n"},
        {"two in one piece", {"200 a\r\n331 b\r\n"}, {200, 331}, control_dropped, "200 a\r\n"},
        {"line too long", {"220 " + std::string(longest_reply_line, 'x')}, {}, invalid_response, ""},
        {"reply too long", {too_long_reply}, {}, invalid_response, ""},
        {"no code", {"hello there\r\n"}, {}, invalid_response, ""},
        {"code out of range", {"600 no\r\n"}, {}, invalid_response, ""},
        {"no space after the code", {"220hi\r\n"}, {}, invalid_response, ""},
        {"end inside a reply", {"220-a\r\n220-b"}, {}, control_dropped, ""},
        {"silence", {}, {}, timed_out, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedStream stream(row.pieces, row.then == timed_out);
        ReplyReader reader(stream);
        for (size_t i = 0; i < row.replies.size(); ++i) {
            const Reply reply = reader.read(bound);
            EXPECT_EQ(reply.code, row.replies[i]);
            if (i == 0) {
                EXPECT_EQ(reply.text, row.first_text);
            }
        }
        EXPECT_EQ(failure_of([&] { reader.read(bound); }), row.then);
    }
}

TEST(FtpProtoDataReplies, ParsesStrictly)
{
    const struct {
        const char* text;
        std::string expected;  // empty: refused
    } rows[] = {
        {"229 Entering Extended Passive Mode (|||6446|)", "6446"},
        {"229 Ok (!!!65535!)", "65535"},
        {"229 (|||65536|)", ""},
        {"229 (|||0|)", ""},
        {"229 (||6446|)", ""},
        {"229 (|||6446)", ""},
        {"227 Entering Passive Mode (192,168,1,2,19,40)", "192.168.1.2:4904"},
        {"227 =127,0,0,1,4,1", "127.0.0.1:1025"},
        {"227 Port 1,2 then (10,0,0,1,0,21)", "10.0.0.1:21"},
        {"227 (256,0,0,1,4,1)", ""},
        {"227 (1,2,3,4,5)", ""},
        {"227 (1,2,3,4,0,0)", ""},
        {"227 (1,2,3,4,5,1000)", ""},
        {"150 Opening BINARY mode data connection for f (1234 bytes)", "1234"},
        {"150 f (9999999999999999999 bytes)", "9999999999999999999"},
        {"150 f (18446744073709551616 bytes)", ""},
        {"150 f (12a bytes)", ""},
        {"150 f (1234 bytes", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        std::string got;
        const std::string_view code = std::string_view(row.text).substr(0, 3);
        if (code == "229") {
            if (const auto port = parse_epsv_port(row.text))
                got = std::to_string(*port);
        } else if (code == "227") {
            if (const auto endpoint = parse_pasv_endpoint(row.text))
                got = endpoint->address_text() + ":" + std::to_string(endpoint->port());
        } else if (const auto size = parse_announced_size(row.text)) {
            got = std::to_string(*size);
        }
        EXPECT_EQ(got, row.expected);
    }
}

Settings test_settings(bool passive = true)
{
    Settings settings;
    settings.user = "u";
    settings.password = "p";
    settings.timeout_milliseconds = bound;
    settings.passive = passive;
    return settings;
}

std::unique_ptr<Client> client_over(std::string script, ScriptedStream** stream, bool silent_at_end = false)
{
    auto control = std::make_unique<ScriptedStream>(std::vector<std::string>{"220 hi\r\n230 in\r\n" + script},
                                                    silent_at_end);
    *stream = control.get();
    return Client::log_in(std::move(control), test_settings());
}

TEST(FtpProtoClient, LogsInOrSaysWhyNot)
{
    const struct {
        const char* script;
        LONG expected;
        const char* sent;
    } rows[] = {
        {"120 soon\r\n220 hi\r\n331 password\r\n230 in\r\n", 0, "USER u\r\nPASS p\r\n"},
        {"220 hi\r\n230 no password needed\r\n", 0, "USER u\r\n"},
        {"421 busy\r\n", negative_reply, ""},
        {"220 hi\r\n331 password\r\n332 account\r\n", negative_reply, "USER u\r\nPASS p\r\n"},
        {"220 hi\r\n530 no\r\n", negative_reply, "USER u\r\n"},
        {"220 hi\r\n", control_dropped, "USER u\r\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.script);
        auto control = std::make_unique<ScriptedStream>(std::vector<std::string>{row.script});
        // The stream goes with a client that failed to log in.
        std::string sent;
        control->on_send = [&](std::string_view line) { sent += line; };
        std::unique_ptr<Client> client;
        EXPECT_EQ(failure_of([&] { client = Client::log_in(std::move(control), test_settings()); }), row.expected);
        EXPECT_EQ(sent, row.sent);
    }
}

// Stands in for TLS: a stream it secures forwards to the one it wraps and
// keeps what went through it, so that a test sees what was sent protected.
class RecordingSecurer final : public StreamSecurer {
public:
    std::vector<bool> secured;  // whether each was a data connection
    std::string sent_protected;
    LONG refuse = 0;
    LONG refuse_data = 0;

    std::unique_ptr<net::Stream> secure(std::unique_ptr<net::Stream> stream, bool data_connection, DWORD) override
    {
        secured.push_back(data_connection);
        if (refuse || (data_connection && refuse_data))
            throw net::Failure(data_connection && refuse_data ? refuse_data : refuse);
        return std::make_unique<Protected>(std::move(stream), sent_protected);
    }

private:
    class Protected final : public net::Stream {
    public:
        Protected(std::unique_ptr<net::Stream> inner, std::string& sent) : inner_(std::move(inner)), sent_(sent) {}
        void send(std::span<const char> bytes, DWORD timeout) override
        {
            sent_.append(bytes.data(), bytes.size());
            inner_->send(bytes, timeout);
        }
        size_t receive(std::span<char> buffer, DWORD timeout) override { return inner_->receive(buffer, timeout); }
        void end_sending(DWORD timeout) override { inner_->end_sending(timeout); }
        const net::Endpoint& local() const override { return inner_->local(); }
        const net::Endpoint& peer() const override { return inner_->peer(); }

    private:
        std::unique_ptr<net::Stream> inner_;
        std::string& sent_;
    };
};

// Nothing falls back to clear text, and the login goes only over TLS.
TEST(FtpProtoClient, SecuresBeforeTheLoginOrRefuses)
{
    const struct {
        const char* name;
        Security security;
        std::vector<std::string> replies;  // one a receive, as a server waits for each command
        LONG refuse;
        LONG expected;
        const char* sent;  // everything, clear and protected
        const char* sent_protected;
        size_t handshakes;
    } rows[] = {
        {"explicit", Security::explicit_tls,
         {"220 hi\r\n", "234 go\r\n", "331 pw\r\n", "230 in\r\n", "200 ok\r\n", "200 ok\r\n"}, 0, 0,
         "AUTH TLS\r\nUSER u\r\nPASS p\r\nPBSZ 0\r\nPROT P\r\n", "USER u\r\nPASS p\r\nPBSZ 0\r\nPROT P\r\n", 1},
        {"implicit", Security::implicit_tls, {"220 hi\r\n", "230 in\r\n", "200 ok\r\n", "200 ok\r\n"}, 0, 0,
         "USER u\r\nPBSZ 0\r\nPROT P\r\n", "USER u\r\nPBSZ 0\r\nPROT P\r\n", 1},
        {"AUTH refused", Security::explicit_tls, {"220 hi\r\n", "530 no\r\n"}, 0, negative_reply, "AUTH TLS\r\n",
         "", 0},
        {"clear text after 234", Security::explicit_tls, {"220 hi\r\n", "234 go\r\n230 in\r\n"}, 0,
         invalid_response, "AUTH TLS\r\n", "", 0},
        {"handshake fails", Security::explicit_tls, {"220 hi\r\n", "234 go\r\n"}, 12045, 12045, "AUTH TLS\r\n",
         "", 1},
        {"implicit handshake fails", Security::implicit_tls, {"220 hi\r\n"}, 12045, 12045, "", "", 1},
        {"PROT refused", Security::explicit_tls,
         {"220 hi\r\n", "234 go\r\n", "230 in\r\n", "200 ok\r\n", "536 no\r\n"}, 0, negative_reply,
         "AUTH TLS\r\nUSER u\r\nPBSZ 0\r\nPROT P\r\n", "USER u\r\nPBSZ 0\r\nPROT P\r\n", 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto control = std::make_unique<ScriptedStream>(row.replies);
        std::string sent;
        control->on_send = [&](std::string_view line) { sent += line; };
        auto securer = std::make_shared<RecordingSecurer>();
        securer->refuse = row.refuse;
        Settings settings = test_settings();
        settings.security = row.security;
        settings.securer = securer;
        std::unique_ptr<Client> client;
        EXPECT_EQ(failure_of([&] { client = Client::log_in(std::move(control), settings); }), row.expected);
        EXPECT_EQ(sent, row.sent);
        EXPECT_EQ(securer->sent_protected, row.sent_protected);
        // The control connection alone, once, when the server let it.
        EXPECT_EQ(securer->secured, std::vector<bool>(row.handshakes, false));
    }
}

TEST(FtpProtoClient, ATimeOutDropsTheControlConnection)
{
    ScriptedStream* stream = nullptr;
    auto client = client_over("", &stream, true);
    EXPECT_EQ(failure_of([&] { client->command("NOOP"); }), timed_out);
    EXPECT_FALSE(client->connected());
    EXPECT_EQ(failure_of([&] { client->command("NOOP"); }), control_dropped);
}

std::string pasv_reply(unsigned short port)
{
    return "227 Entering Passive Mode (127,0,0,1," + std::to_string(port / 256) + "," + std::to_string(port % 256) +
           ")\r\n";
}

TEST(FtpProtoClient, PassiveFallsBackToPasvOnceAndAborKeepsTheRepliesInStep)
{
    net::Listener server(net::Endpoint::ipv4(loopback_bytes, 0));
    const std::string pasv = pasv_reply(server.endpoint().port());
    ScriptedStream* stream = nullptr;
    // ABOR's replies: cut off; ABOR's alone; the transfer done first.
    auto client = client_over("500 EPSV?\r\n" + pasv + "150 here\r\n426 aborted\r\n226 abort done\r\n" + pasv +
                                  "150 here\r\n226 abort done\r\n200 noop\r\n" + pasv +
                                  "150 here\r\n226 complete\r\n225 abort done\r\n200 noop\r\n200 noop\r\n",
                              &stream);
    const net::Endpoint& us = stream->local();
    for (const char* line : {"RETR a", "RETR b", "RETR c"}) {
        auto transfer = client->open_transfer(line);
        EXPECT_NE(server.accept(us, bound), nullptr);
    }
    EXPECT_EQ(client->command("NOOP").code, 200) << "ABOR left the replies out of step";
    EXPECT_TRUE(client->connected());
    EXPECT_EQ(stream->sent, "USER u\r\nEPSV\r\nPASV\r\nRETR a\r\nABOR\r\nPASV\r\nRETR b\r\nABOR\r\nNOOP\r\n"
                            "PASV\r\nRETR c\r\nABOR\r\nNOOP\r\nNOOP\r\n");
}

// PROT P agreed, a data connection whose handshake fails (a server that
// sends clear data, or cuts the handshake) is no transfer, and ABOR keeps
// the control connection in step.
TEST(FtpProtoClient, ADataConnectionWithoutTlsAbortsItsTransfer)
{
    net::Listener server(net::Endpoint::ipv4(loopback_bytes, 0));
    auto control = std::make_unique<ScriptedStream>(std::vector<std::string>{
        "220 hi\r\n", "234 go\r\n",
        "230 in\r\n200 ok\r\n200 ok\r\n229 here (|||" + std::to_string(server.endpoint().port()) +
            "|)\r\n150 here\r\n426 aborted\r\n226 abort done\r\n200 noop\r\n"});
    ScriptedStream* stream = control.get();
    auto securer = std::make_shared<RecordingSecurer>();
    securer->refuse_data = 12157;
    Settings settings = test_settings();
    settings.security = Security::explicit_tls;
    settings.securer = securer;
    auto client = Client::log_in(std::move(control), settings);
    EXPECT_EQ(failure_of([&] { client->open_transfer("RETR a"); }), 12157);
    EXPECT_EQ(client->command("NOOP").code, 200) << "ABOR left the replies out of step";
    EXPECT_EQ(securer->secured, (std::vector<bool>{false, true}));
    EXPECT_EQ(stream->sent, "AUTH TLS\r\nUSER u\r\nPBSZ 0\r\nPROT P\r\nEPSV\r\nRETR a\r\nABOR\r\nNOOP\r\n");
}

TEST(FtpProtoClient, ActiveFallsBackToPortOnceAndAcceptsThePeer)
{
    ScriptedStream* stream = nullptr;
    auto client = client_over("500 EPRT?\r\n200 port\r\n150 send\r\n226 stored\r\n200 port\r\n150 send\r\n", &stream);
    client->set_passive(false);
    std::unique_ptr<net::TcpStream> server_side;
    stream->on_send = [&](std::string_view line) {
        // The server connects back to the port the PORT line names.
        if (line.starts_with("PORT 127,0,0,1,")) {
            unsigned high = 0;
            unsigned low = 0;
            ASSERT_EQ(sscanf(std::string(line).c_str(), "PORT 127,0,0,1,%u,%u", &high, &low), 2);
            server_side = net::TcpStream::connect(
                net::Endpoint::ipv4(loopback_bytes, static_cast<unsigned short>(high * 256 + low)), bound);
        }
    };
    auto transfer = client->open_transfer("STOR a");
    transfer->write(std::string_view("hello"));
    char received[16];
    ASSERT_EQ(server_side->receive(received, bound), 5u);
    server_side.reset();
    EXPECT_EQ(transfer->finish().code, 226);
    auto second = client->open_transfer("STOR b");
    EXPECT_EQ(stream->sent.find("EPRT"), stream->sent.rfind("EPRT")) << "EPRT was tried again";
    EXPECT_NE(stream->sent.find("\r\nPORT 127,0,0,1,"), stream->sent.rfind("\r\nPORT 127,0,0,1,"));
}

TEST(FtpProtoClient, AListingRefusedWithoutDataIsEmpty)
{
    net::Listener server(net::Endpoint::ipv4(loopback_bytes, 0));
    ScriptedStream* stream = nullptr;
    auto client = client_over("211-Features\r\n MLST type*;size*;\r\n211 End\r\n500 EPSV?\r\n" +
                                  pasv_reply(server.endpoint().port()) + "550 No files\r\n",
                              &stream);
    client->set_passive(true);
    const auto listing = client->list();
    EXPECT_TRUE(listing.entries.empty());
    EXPECT_EQ(listing.final_reply.code, 550);
    EXPECT_EQ(stream->sent, "USER u\r\nFEAT\r\nEPSV\r\nPASV\r\nMLSD\r\n");
}

TEST(FtpProtoLoopback, StoresListsAndRetrievesByteExactPassiveAndActive)
{
    const LoopbackServer server = LoopbackServer::start_ftp();
    Settings settings = test_settings();
    settings.host = "127.0.0.1";
    settings.port = static_cast<unsigned short>(server.port());
    settings.user = "tester";
    settings.password = "secret";
    std::string content(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 7 + i / 251);
    for (const bool passive : {true, false}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        settings.passive = passive;
        auto client = Client::connect(settings);
        ASSERT_EQ(client->command("TYPE I").code, 200);
        const std::string name = passive ? "passive.bin" : "active.bin";
        auto upload = client->open_transfer("STOR " + name);
        upload->write(content);
        EXPECT_EQ(upload->finish().code, 226);

        const auto listing = client->list();
        const auto found = std::find_if(listing.entries.begin(), listing.entries.end(),
                                        [&](const RemoteEntry& entry) { return entry.name == name; });
        ASSERT_NE(found, listing.entries.end());
        EXPECT_EQ(found->size, content.size());
        EXPECT_EQ(listing.skipped, 0u);

        std::string back;
        auto download = client->open_transfer("RETR " + name);
        std::string piece(64 * 1024, '\0');
        while (const size_t received = download->read(piece))
            back.append(piece.data(), received);
        EXPECT_EQ(download->finish().code, 226);
        EXPECT_TRUE(back == content) << back.size() << " bytes back";

        auto cut_off = client->open_transfer("RETR " + name);
        EXPECT_GT(cut_off->read(piece), 0u);
        cut_off.reset();
        EXPECT_EQ(client->command("NOOP").code, 200) << "ABOR left the replies out of step";
        client->quit();
        EXPECT_FALSE(client->connected());
    }
}

}  // namespace
}  // namespace corvane::ftpproto
