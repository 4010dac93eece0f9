// A remote file sent to the browser as an attachment, in place of the page.

#include "web/download.h"

#include "frame/error.h"
#include "frame/error_text.h"
#include "frame/text.h"
#include "frame/variants.h"
#include "ftp/ftp_errors.h"
#include "web/content_disposition.h"
#include "wininet/wininet.h"

#include <optional>
#include <vector>

namespace corvane::web {

namespace {

// What one read and one BinaryWrite carry: large enough that the platform's
// cost per call and the host's per write vanish against the bytes, small
// enough that the page holds no more than this of the file at a time.
constexpr DWORD chunk_size = 256 * 1024;
// A buffering host is flushed after this much: IIS fails a page whose
// buffer outgrows AspBufferingLimit (4 MB unless set), and holds every
// unflushed byte in the worker's memory until then.
constexpr unsigned long long flush_size = 1024 * 1024;

Variant byte_array(const char* bytes, DWORD count)
{
    Variant value;
    set_variant_bytes(value.put(), std::string_view(bytes, count));
    return value;
}

bool buffering(IResponse& response)
{
    VARIANT_BOOL buffered = VARIANT_TRUE;
    check_call(response.get_Buffer(&buffered), &response, IID_IResponse);
    return buffered != VARIANT_FALSE;
}

bool client_connected(IResponse& response)
{
    VARIANT_BOOL connected = VARIANT_TRUE;
    check_call(response.IsClientConnected(&connected), &response, IID_IResponse);
    return connected != VARIANT_FALSE;
}

}  // namespace

void send_file(ftp::Session& session, const AspPage& page, const ftp::WireText& remote_path)
{
    session.set_bytes_transferred(0);
    const auto file =
        session.open_file(remote_path, ftp::Direction::download, session.transfer_flags() | INTERNET_FLAG_NO_CACHE_WRITE,
                          0, ftp::errors::open_file, L"FtpOpenFile");
    // Only a binary transfer brings the file's bytes unchanged; an ASCII one
    // may change the line ends, and with them the count.
    const unsigned long long size =
        session.transfer_type() == ftp::TransferType::binary ? file->size_before_transfer() : 0;

    IResponse& response = page.response();
    // Unbuffered, IIS refuses Clear and Flush (ASP 0159) and sends the
    // headers with the first write: they are all set before it.
    const bool buffered = buffering(response);
    if (buffered)
        check_call(response.Clear(), &response, IID_IResponse);
    Bstr content_type(L"application/octet-stream");
    check_call(response.put_ContentType(content_type.get()), &response, IID_IResponse);
    Bstr header_name(L"Content-Disposition");
    Bstr header_value(content_disposition(remote_path.text()));
    check_call(response.AddHeader(header_name.get(), header_value.get()), &response, IID_IResponse);
    // With the length known the browser itself sees a download cut short.
    if (size > 0) {
        Bstr length_name(L"Content-Length");
        Bstr length_value(std::to_wstring(size));
        check_call(response.AddHeader(length_name.get(), length_value.get()), &response, IID_IResponse);
    }

    std::vector<char> chunk(chunk_size);
    unsigned long long arrived = 0;
    unsigned long long unflushed = 0;
    size_t bytes_read = 0;
    do {
        // A visitor who left would otherwise cost the whole transfer.
        if (!client_connected(response)) {
            // Closing the file ends the data connection, so the server
            // stops sending; the connection stays usable.
            file->abandon();
            check_call(response.End(), &response, IID_IResponse);
            return;
        }
        bytes_read = file->read(chunk, ftp::errors::read_file);
        // Bytes past the length announced would reach the browser as the
        // start of another response.
        if (size > 0 && bytes_read > size - arrived)
            raise_with_reason(ftp::errors::read_file, L"The transfer brought more than the " + std::to_wstring(size) +
                                  L" bytes announced.");
        if (bytes_read > 0) {
            Variant bytes = byte_array(chunk.data(), static_cast<DWORD>(bytes_read));
            check_call(response.BinaryWrite(*bytes.get()), &response, IID_IResponse);
            arrived += bytes_read;
            session.add_bytes_transferred(bytes_read);
            unflushed += bytes_read;
            if (buffered && unflushed >= flush_size) {
                check_call(response.Flush(), &response, IID_IResponse);
                unflushed = 0;
            }
        }
    } while (bytes_read > 0);
    // The platform ends a transfer the server cut short with an ordinary
    // empty read: the size announced and the server's final reply, which
    // closing the file collects, are what tell.
    if (arrived < size)
        raise_with_reason(ftp::errors::read_file, early_end_reason(arrived, size));
    file->finish(ftp::errors::read_file, L"InternetCloseHandle");
    check_call(response.End(), &response, IID_IResponse);
}

void download_file_to_client(ftp::Session& session, const AspPage& page, std::wstring_view remote_path)
{
    send_file(session, page, session.wire(remote_path, ftp::errors::open_file));
}

}  // namespace corvane::web
