#include "ftp/ftp.h"

#include "frame/text.h"

namespace corvane {

namespace {

constexpr std::wstring_view ftp_version = L"1.01.2";

}  // namespace

ComPtr<IUnknown> FTP::create()
{
    return ComPtr<IUnknown>::adopt(static_cast<_FTP*>(make_object<FTP>().detach()));
}

HRESULT FTP::get_Version(VARIANT* result)
{
    return member([&] { set_variant_text(result, ftp_version); });
}

// Members whose behaviour is not built yet.
HRESULT FTP::OnStartPage(IDispatch*, VARIANT*) { return not_built_yet(); }
HRESULT FTP::put_URL(VARIANT) { return not_built_yet(); }
HRESULT FTP::get_URL(VARIANT*) { return not_built_yet(); }
HRESULT FTP::put_Username(VARIANT) { return not_built_yet(); }
HRESULT FTP::get_Username(VARIANT*) { return not_built_yet(); }
HRESULT FTP::put_Password(VARIANT) { return not_built_yet(); }
HRESULT FTP::get_Password(VARIANT*) { return not_built_yet(); }
HRESULT FTP::put_Port(LONG) { return not_built_yet(); }
HRESULT FTP::get_Port(LONG*) { return not_built_yet(); }
HRESULT FTP::put_Proxy(VARIANT) { return not_built_yet(); }
HRESULT FTP::get_Proxy(VARIANT*) { return not_built_yet(); }
HRESULT FTP::put_Passive(VARIANT_BOOL) { return not_built_yet(); }
HRESULT FTP::get_Passive(VARIANT_BOOL*) { return not_built_yet(); }
HRESULT FTP::put_TransferType(Ftp_Transfer_Type) { return not_built_yet(); }
HRESULT FTP::OpenConnection() { return not_built_yet(); }
HRESULT FTP::CloseConnection() { return not_built_yet(); }
HRESULT FTP::PrintClient() { return not_built_yet(); }
HRESULT FTP::DownloadFileToClient(VARIANT) { return not_built_yet(); }
HRESULT FTP::ExecuteCommand(VARIANT, VARIANT_BOOL, BSTR*) { return not_built_yet(); }
HRESULT FTP::GetLastResponse(VARIANT*) { return not_built_yet(); }
HRESULT FTP::get_Directory(VARIANT*) { return not_built_yet(); }
HRESULT FTP::put_Directory(VARIANT) { return not_built_yet(); }
HRESULT FTP::Files(_FTPFiles**) { return not_built_yet(); }
HRESULT FTP::GetDirectoryListing(Directory_Listing_Type, BSTR*) { return not_built_yet(); }
HRESULT FTP::CreateDirectory(VARIANT) { return not_built_yet(); }
HRESULT FTP::RemoveDirectory(VARIANT) { return not_built_yet(); }
HRESULT FTP::RenameFile(VARIANT, VARIANT) { return not_built_yet(); }
HRESULT FTP::GetDirectory(VARIANT, VARIANT, VARIANT_BOOL, VARIANT_BOOL) { return not_built_yet(); }
HRESULT FTP::PutDirectory(VARIANT, VARIANT, VARIANT_BOOL) { return not_built_yet(); }
HRESULT FTP::GetFile(VARIANT, VARIANT, VARIANT_BOOL) { return not_built_yet(); }
HRESULT FTP::PutFile(VARIANT, VARIANT) { return not_built_yet(); }
HRESULT FTP::DeleteFile(VARIANT) { return not_built_yet(); }

}  // namespace corvane
