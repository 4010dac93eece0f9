// A remote file sent to the browser as an attachment, in place of the page.

#include "ftp/ftp.h"

#include "frame/error_text.h"
#include "frame/platform.h"
#include "frame/text.h"
#include "web/content_disposition.h"

#include <vector>

namespace corvane {

namespace {

constexpr HRESULT read_error = static_cast<HRESULT>(0x80040210);
constexpr HRESULT open_error = static_cast<HRESULT>(0x80040211);
constexpr DWORD chunk_size = 4096;

Variant byte_array(const char* bytes, DWORD count)
{
    Variant value;
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, count);
    if (!array)
        throw std::bad_alloc();
    V_VT(value.get()) = VT_ARRAY | VT_UI1;
    V_ARRAY(value.get()) = array;
    void* data = nullptr;
    check_com(SafeArrayAccessData(array, &data));
    std::copy(bytes, bytes + count, static_cast<char*>(data));
    SafeArrayUnaccessData(array);
    return value;
}

}  // namespace

void FTP::download_file_to_client(const WireText& remote_path)
{
    InternetHandle file(platform().FtpOpenFileA(lng_connection_handle.get(), remote_path.ansi(), GENERIC_READ,
                                                static_cast<DWORD>(lng_transfer_type), 0));
    if (!file)
        raise_platform_failure(open_error, ftp_source, L"Error attempting to open file.", L"FtpOpenFile");

    IResponse& response = page.response();
    check_call(response.Clear(), &response, IID_IResponse);
    Bstr content_type(L"application/octet-stream");
    check_call(response.put_ContentType(content_type.get()), &response, IID_IResponse);
    Bstr header_name(L"Content-Disposition");
    Bstr header_value(content_disposition(remote_path.text()));
    check_call(response.AddHeader(header_name.get(), header_value.get()), &response, IID_IResponse);

    std::vector<char> chunk(chunk_size);
    DWORD bytes_read = 0;
    do {
        if (!platform().InternetReadFile(file.get(), chunk.data(), chunk_size, &bytes_read))
            raise_platform_failure(read_error, ftp_source, L"Error reading file from the remote server.",
                                   L"InternetReadFile");
        if (bytes_read > 0) {
            Variant bytes = byte_array(chunk.data(), bytes_read);
            check_call(response.BinaryWrite(*bytes.get()), &response, IID_IResponse);
        }
    } while (bytes_read > 0);
    file.close();
    check_call(response.End(), &response, IID_IResponse);
}

HRESULT FTP::DownloadFileToClient(VARIANT str_remote_path)
{
    return member([&] {
        download_file_to_client(WireText(text_of(str_remote_path), open_error, L"Error attempting to open file."));
    });
}

}  // namespace corvane
