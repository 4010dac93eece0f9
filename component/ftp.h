#pragma once

#include "component/ftp_files.h"
#include "component/interfaces.h"
#include "frame/asp_page.h"
#include "frame/dispatch.h"
#include "ftp/session.h"

namespace corvane {

// One FTP session with one server, as scripts see it. Clients built against
// the first interface get the same object through it.
class FTP final : public DispatchObject<_FTP2, _FTP> {
public:
    FTP();

    HRESULT STDMETHODCALLTYPE OnStartPage(IDispatch* scripting_context, VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE get_Version(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE put_URL(VARIANT url) override;
    HRESULT STDMETHODCALLTYPE get_URL(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE put_Username(VARIANT username) override;
    HRESULT STDMETHODCALLTYPE get_Username(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE put_Password(VARIANT password) override;
    HRESULT STDMETHODCALLTYPE get_Password(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE put_Port(LONG port) override;
    HRESULT STDMETHODCALLTYPE get_Port(LONG* result) override;
    HRESULT STDMETHODCALLTYPE put_Proxy(VARIANT proxy) override;
    HRESULT STDMETHODCALLTYPE get_Proxy(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE put_Passive(VARIANT_BOOL passive) override;
    HRESULT STDMETHODCALLTYPE get_Passive(VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE put_TransferType(Ftp_Transfer_Type transfer_type) override;
    HRESULT STDMETHODCALLTYPE OpenConnection() override;
    HRESULT STDMETHODCALLTYPE CloseConnection() override;
    HRESULT STDMETHODCALLTYPE PrintClient() override;
    HRESULT STDMETHODCALLTYPE DownloadFileToClient(VARIANT remote_path) override;
    HRESULT STDMETHODCALLTYPE ExecuteCommand(VARIANT command, VARIANT_BOOL expect_response, BSTR* result) override;
    HRESULT STDMETHODCALLTYPE GetLastResponse(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE get_Directory(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE put_Directory(VARIANT directory) override;
    HRESULT STDMETHODCALLTYPE Files(_FTPFiles** result) override;
    HRESULT STDMETHODCALLTYPE GetDirectoryListing(Directory_Listing_Type shown, BSTR* result) override;
    HRESULT STDMETHODCALLTYPE CreateDirectory(VARIANT name) override;
    HRESULT STDMETHODCALLTYPE RemoveDirectory(VARIANT name) override;
    HRESULT STDMETHODCALLTYPE RenameFile(VARIANT old_name, VARIANT new_name) override;
    HRESULT STDMETHODCALLTYPE GetDirectory(VARIANT remote_path, VARIANT local_path, VARIANT_BOOL overwrite,
                                           VARIANT_BOOL traverse_sub_directories) override;
    HRESULT STDMETHODCALLTYPE PutDirectory(VARIANT local_path, VARIANT remote_path,
                                           VARIANT_BOOL traverse_sub_directories) override;
    HRESULT STDMETHODCALLTYPE GetFile(VARIANT remote_path, VARIANT local_path, VARIANT_BOOL overwrite) override;
    HRESULT STDMETHODCALLTYPE PutFile(VARIANT local_path, VARIANT remote_path) override;
    HRESULT STDMETHODCALLTYPE DeleteFile(VARIANT remote_path) override;

    // _FTP2
    HRESULT STDMETHODCALLTYPE get_Timeout(LONG* result) override;
    HRESULT STDMETHODCALLTYPE put_Timeout(LONG seconds) override;
    HRESULT STDMETHODCALLTYPE get_LastReplyCode(LONG* result) override;
    HRESULT STDMETHODCALLTYPE RemoteFileSize(VARIANT remote_path, VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE ResumeFile(VARIANT remote_path, VARIANT local_path) override;
    HRESULT STDMETHODCALLTYPE ResumePutFile(VARIANT local_path, VARIANT remote_path) override;
    HRESULT STDMETHODCALLTYPE get_UTF8(VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE put_UTF8(VARIANT_BOOL utf8) override;
    HRESULT STDMETHODCALLTYPE get_BytesTransferred(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE get_Engine(Ftp_Engine* result) override;
    HRESULT STDMETHODCALLTYPE put_Engine(Ftp_Engine engine) override;
    HRESULT STDMETHODCALLTYPE get_TrustPassiveAddress(VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE put_TrustPassiveAddress(VARIANT_BOOL trust) override;
    HRESULT STDMETHODCALLTYPE get_Security(Ftp_Security* result) override;
    HRESULT STDMETHODCALLTYPE put_Security(Ftp_Security security) override;
    HRESULT STDMETHODCALLTYPE get_IgnoreCertificateErrors(VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE put_IgnoreCertificateErrors(VARIANT_BOOL ignore) override;

private:
    ~FTP() override = default;

    ftp::Session session_;
    AspPage page_;
};

}  // namespace corvane
