// Each member hands its arguments, as text, to the layer that does the work.

#include "component/ftp.h"

#include "frame/text.h"
#include "frame/variants.h"
#include "ftp/ftp_errors.h"
#include "ftp/listing.h"
#include "transfer/resume.h"
#include "transfer/single_file.h"
#include "transfer/tree.h"
#include "web/browser_page.h"
#include "web/download.h"

namespace corvane {

namespace {

constexpr std::wstring_view version = L"1.01.2";

static_assert(static_cast<DWORD>(ftp::TransferType::ascii) == TransferASCII);
static_assert(static_cast<DWORD>(ftp::TransferType::binary) == TransferBinary);
static_assert(ftp::columns::files == ShowFiles && ftp::columns::directories == ShowDirectories &&
              ftp::columns::size == ShowFileSize && ftp::columns::last_access_time == ShowLastAccessTime &&
              ftp::columns::last_write_time == ShowLastWriteTime && ftp::columns::creation_time == ShowCreationTime);

}  // namespace

FTP::FTP() : page_(ftp::errors::page_not_bound) {}

HRESULT FTP::OnStartPage(IDispatch* scripting_context, VARIANT* result)
{
    return member(result, [&] {
        VariantInit(result);
        page_.bind(scripting_context);
    });
}

HRESULT FTP::get_Version(VARIANT* result)
{
    return member(result, [&] { set_variant_text(result, version); });
}

HRESULT FTP::put_URL(VARIANT url)
{
    return member([&] { session_.set_url(text_of(url)); });
}

HRESULT FTP::get_URL(VARIANT* result)
{
    return member(result, [&] { set_variant_text(result, session_.url()); });
}

HRESULT FTP::put_Username(VARIANT username)
{
    return member([&] { session_.set_username(text_of(username)); });
}

HRESULT FTP::get_Username(VARIANT* result)
{
    return member(result, [&] { set_variant_text(result, session_.username()); });
}

HRESULT FTP::put_Password(VARIANT password)
{
    return member([&] { session_.set_password(text_of(password)); });
}

HRESULT FTP::get_Password(VARIANT* result)
{
    return member(result, [&] { set_variant_text(result, session_.password()); });
}

HRESULT FTP::put_Port(LONG port)
{
    return member([&] { session_.set_port(port); });
}

HRESULT FTP::get_Port(LONG* result)
{
    return member(result, [&] { *result = session_.port(); });
}

HRESULT FTP::put_Proxy(VARIANT proxy)
{
    return member([&] { session_.set_proxy(text_of(proxy)); });
}

HRESULT FTP::get_Proxy(VARIANT* result)
{
    return member(result, [&] { set_variant_text(result, session_.proxy()); });
}

HRESULT FTP::put_Passive(VARIANT_BOOL passive)
{
    return member([&] { session_.set_passive(passive != VARIANT_FALSE); });
}

HRESULT FTP::get_Passive(VARIANT_BOOL* result)
{
    return member(result, [&] { *result = session_.passive() ? VARIANT_TRUE : VARIANT_FALSE; });
}

HRESULT FTP::put_TransferType(Ftp_Transfer_Type transfer_type)
{
    return member([&] {
        // Other values leave the type as it was.
        if (transfer_type == TransferASCII || transfer_type == TransferBinary)
            session_.set_transfer_type(static_cast<ftp::TransferType>(transfer_type));
    });
}

HRESULT FTP::OpenConnection()
{
    return member([&] { session_.open(); });
}

HRESULT FTP::CloseConnection()
{
    return member([&] { session_.close(); });
}

HRESULT FTP::PrintClient()
{
    return member([&] { web::print_client(session_, page_); });
}

HRESULT FTP::DownloadFileToClient(VARIANT remote_path)
{
    return member([&] { web::download_file_to_client(session_, page_, text_of(remote_path)); });
}

HRESULT FTP::ExecuteCommand(VARIANT command, VARIANT_BOOL expect_response, BSTR* result)
{
    return member(result,
                  [&] { *result = allocate_bstr(session_.execute_command(text_of(command), expect_response)); });
}

HRESULT FTP::GetLastResponse(VARIANT* result)
{
    return member(result, [&] { set_variant_text(result, session_.last_response()); });
}

HRESULT FTP::get_Directory(VARIANT* result)
{
    return member(result, [&] { set_variant_text(result, session_.current_directory()); });
}

HRESULT FTP::put_Directory(VARIANT directory)
{
    return member(
        [&] { session_.change_directory(session_.wire(text_of(directory), ftp::errors::set_directory)); });
}

HRESULT FTP::Files(_FTPFiles** result)
{
    return member(result, [&] { *result = FTPFiles::from_listing(session_.list()).detach(); });
}

HRESULT FTP::GetDirectoryListing(Directory_Listing_Type shown, BSTR* result)
{
    return member(result, [&] { *result = allocate_bstr(ftp::listing_text(session_.list(), shown)); });
}

HRESULT FTP::CreateDirectory(VARIANT name)
{
    return member([&] { session_.create_directory(session_.wire(text_of(name), ftp::errors::create_directory)); });
}

HRESULT FTP::RemoveDirectory(VARIANT name)
{
    return member([&] { session_.remove_directory(session_.wire(text_of(name), ftp::errors::remove_directory)); });
}

HRESULT FTP::RenameFile(VARIANT old_name, VARIANT new_name)
{
    return member([&] {
        const ftp::WireText old_text = session_.wire(text_of(old_name), ftp::errors::rename_file);
        const ftp::WireText new_text = session_.wire(text_of(new_name), ftp::errors::rename_file);
        session_.rename(old_text, new_text);
    });
}

HRESULT FTP::GetDirectory(VARIANT remote_path, VARIANT local_path, VARIANT_BOOL overwrite,
                          VARIANT_BOOL traverse_sub_directories)
{
    return member([&] {
        const std::wstring remote = text_of(remote_path);
        transfer::get_directory(session_, remote, text_of(local_path), overwrite, traverse_sub_directories);
    });
}

HRESULT FTP::PutDirectory(VARIANT local_path, VARIANT remote_path, VARIANT_BOOL traverse_sub_directories)
{
    return member([&] {
        const std::wstring local = text_of(local_path);
        transfer::put_directory(session_, local, text_of(remote_path), traverse_sub_directories);
    });
}

HRESULT FTP::GetFile(VARIANT remote_path, VARIANT local_path, VARIANT_BOOL overwrite)
{
    return member([&] {
        const std::wstring remote = text_of(remote_path);
        transfer::get_file(session_, remote, text_of(local_path), overwrite);
    });
}

HRESULT FTP::PutFile(VARIANT local_path, VARIANT remote_path)
{
    return member([&] {
        const std::wstring local = text_of(local_path);
        transfer::put_file(session_, local, text_of(remote_path));
    });
}

HRESULT FTP::DeleteFile(VARIANT remote_path)
{
    return member([&] { session_.delete_file(session_.wire(text_of(remote_path), ftp::errors::delete_file)); });
}

HRESULT FTP::get_Timeout(LONG* result)
{
    return member(result, [&] { *result = session_.timeout_seconds(); });
}

HRESULT FTP::put_Timeout(LONG seconds)
{
    return member([&] { session_.set_timeout_seconds(seconds); });
}

HRESULT FTP::get_LastReplyCode(LONG* result)
{
    return member(result, [&] { *result = session_.last_reply_code(); });
}

HRESULT FTP::RemoteFileSize(VARIANT remote_path, VARIANT* result)
{
    return member(result, [&] {
        const ftp::WireText remote = session_.wire(text_of(remote_path), ftp::errors::remote_file_size);
        set_variant_number(result, static_cast<double>(session_.remote_file_size(remote)));
    });
}

HRESULT FTP::ResumeFile(VARIANT remote_path, VARIANT local_path)
{
    return member([&] {
        const std::wstring remote = text_of(remote_path);
        transfer::resume_file(session_, remote, text_of(local_path));
    });
}

HRESULT FTP::ResumePutFile(VARIANT local_path, VARIANT remote_path)
{
    return member([&] {
        const std::wstring local = text_of(local_path);
        transfer::resume_put_file(session_, local, text_of(remote_path));
    });
}

HRESULT FTP::get_UTF8(VARIANT_BOOL* result)
{
    return member(result, [&] { *result = session_.utf8() ? VARIANT_TRUE : VARIANT_FALSE; });
}

HRESULT FTP::put_UTF8(VARIANT_BOOL utf8)
{
    return member([&] { session_.set_utf8(utf8 != VARIANT_FALSE); });
}

HRESULT FTP::get_BytesTransferred(VARIANT* result)
{
    return member(result, [&] { set_variant_number(result, static_cast<double>(session_.bytes_transferred())); });
}

HRESULT FTP::get_Engine(Ftp_Engine* result)
{
    return member(result, [&] { *result = static_cast<Ftp_Engine>(session_.engine_kind()); });
}

HRESULT FTP::put_Engine(Ftp_Engine engine)
{
    return member([&] { session_.set_engine_kind(static_cast<ftp::EngineKind>(engine)); });
}

HRESULT FTP::get_TrustPassiveAddress(VARIANT_BOOL* result)
{
    return member(result, [&] { *result = session_.trust_passive_address() ? VARIANT_TRUE : VARIANT_FALSE; });
}

HRESULT FTP::put_TrustPassiveAddress(VARIANT_BOOL trust)
{
    return member([&] { session_.set_trust_passive_address(trust != VARIANT_FALSE); });
}

HRESULT FTP::get_Security(Ftp_Security* result)
{
    return member(result, [&] { *result = static_cast<Ftp_Security>(session_.security()); });
}

HRESULT FTP::put_Security(Ftp_Security security)
{
    return member([&] { session_.set_security(static_cast<ftp::Security>(security)); });
}

HRESULT FTP::get_IgnoreCertificateErrors(VARIANT_BOOL* result)
{
    return member(result, [&] { *result = session_.ignore_certificate_errors() ? VARIANT_TRUE : VARIANT_FALSE; });
}

HRESULT FTP::put_IgnoreCertificateErrors(VARIANT_BOOL ignore)
{
    return member([&] { session_.set_ignore_certificate_errors(ignore != VARIANT_FALSE); });
}

}  // namespace corvane
