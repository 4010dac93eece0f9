#pragma once

#include "frame/asp_page.h"
#include "frame/dispatch.h"
#include "frame/interfaces.h"
#include "frame/internet_handle.h"
#include "ftp/ftp_files.h"
#include "ftp/wire_text.h"

#include <optional>
#include <string>

namespace corvane {

// One FTP session with one server.
class FTP final : public DispatchObject<_FTP> {
public:
    static ComPtr<IUnknown> create();

    HRESULT STDMETHODCALLTYPE OnStartPage(IDispatch* FTPScriptingContext, VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE get_Version(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE put_URL(VARIANT str_URL) override;
    HRESULT STDMETHODCALLTYPE get_URL(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE put_Username(VARIANT str_username) override;
    HRESULT STDMETHODCALLTYPE get_Username(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE put_Password(VARIANT str_password) override;
    HRESULT STDMETHODCALLTYPE get_Password(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE put_Port(LONG lng_port) override;
    HRESULT STDMETHODCALLTYPE get_Port(LONG* result) override;
    HRESULT STDMETHODCALLTYPE put_Proxy(VARIANT str_proxy) override;
    HRESULT STDMETHODCALLTYPE get_Proxy(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE put_Passive(VARIANT_BOOL bool_passive) override;
    HRESULT STDMETHODCALLTYPE get_Passive(VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE put_TransferType(Ftp_Transfer_Type FTT_Transfer_Type) override;
    HRESULT STDMETHODCALLTYPE OpenConnection() override;
    HRESULT STDMETHODCALLTYPE CloseConnection() override;
    HRESULT STDMETHODCALLTYPE PrintClient() override;
    HRESULT STDMETHODCALLTYPE DownloadFileToClient(VARIANT str_remote_path) override;
    HRESULT STDMETHODCALLTYPE ExecuteCommand(VARIANT str_command, VARIANT_BOOL bool_expect_response,
                                             BSTR* result) override;
    HRESULT STDMETHODCALLTYPE GetLastResponse(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE get_Directory(VARIANT* result) override;
    HRESULT STDMETHODCALLTYPE put_Directory(VARIANT str_directory) override;
    HRESULT STDMETHODCALLTYPE Files(_FTPFiles** result) override;
    HRESULT STDMETHODCALLTYPE GetDirectoryListing(Directory_Listing_Type lng_listing_type, BSTR* result) override;
    HRESULT STDMETHODCALLTYPE CreateDirectory(VARIANT str_directory_name) override;
    HRESULT STDMETHODCALLTYPE RemoveDirectory(VARIANT str_directory_name) override;
    HRESULT STDMETHODCALLTYPE RenameFile(VARIANT str_old_filename, VARIANT str_new_filename) override;
    HRESULT STDMETHODCALLTYPE GetDirectory(VARIANT str_remote_path, VARIANT str_local_path,
                                           VARIANT_BOOL bool_overwrite,
                                           VARIANT_BOOL bool_traverse_sub_directories) override;
    HRESULT STDMETHODCALLTYPE PutDirectory(VARIANT str_local_path, VARIANT str_remote_path,
                                           VARIANT_BOOL bool_traverse_sub_directories) override;
    HRESULT STDMETHODCALLTYPE GetFile(VARIANT str_remote_path, VARIANT str_local_path,
                                      VARIANT_BOOL bool_overwrite) override;
    HRESULT STDMETHODCALLTYPE PutFile(VARIANT str_local_path, VARIANT str_remote_path) override;
    HRESULT STDMETHODCALLTYPE DeleteFile(VARIANT str_remote_path) override;

private:
    ~FTP() override;

    void close_connection();
    std::wstring current_directory();
    void change_directory(const WireText& directory);
    ComPtr<FTPFiles> list_directory();
    std::wstring directory_listing(LONG listing_type);
    void get_file(const WireText& remote_path, const std::wstring& local_path, VARIANT_BOOL overwrite);
    void put_file(const std::wstring& local_path, const WireText& remote_path);
    void get_directory(const WireText& remote_path, const std::wstring& local_path, VARIANT_BOOL overwrite,
                       VARIANT_BOOL traverse_sub_directories);
    void put_directory(const std::wstring& local_path, const WireText& remote_path,
                       VARIANT_BOOL traverse_sub_directories);
    void create_directory(const WireText& name);
    void download_file_to_client(const WireText& remote_path);
    void print_client();
    std::wstring GetPageURL();
    std::wstring GetTableRow(const FTPFile& entry, unsigned parity, const std::wstring& page_url,
                             const std::wstring& directory);

    std::wstring str_url;
    std::wstring str_username;
    std::wstring str_password;
    LONG lng_port = 21;
    std::optional<std::wstring> str_proxy;
    DWORD lng_connection_flags = 0;
    LONG lng_transfer_type = TransferASCII;
    bool bool_connected = false;
    InternetHandle lng_session_handle;
    InternetHandle lng_connection_handle;
    AspPage page;
};

}  // namespace corvane
