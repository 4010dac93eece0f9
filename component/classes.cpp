#include "component/classes.h"

#include "component/ftp.h"
#include "component/ftp_file.h"
#include "component/ftp_files.h"
#include "component/http.h"
#include "component/http_header.h"
#include "component/http_headers.h"
#include "component/interfaces.h"

#include <array>

namespace corvane {

namespace {

const std::array<ComponentClass, 6> classes{{
    {CLSID_FTP, L"corvane.FTP", &create_instance<FTP>},
    {CLSID_FTPFile, L"corvane.FTPFile", &create_instance<FTPFile>},
    {CLSID_FTPFiles, L"corvane.FTPFiles", &create_instance<FTPFiles>},
    {CLSID_HTTP, L"corvane.HTTP", &create_instance<HTTP>},
    {CLSID_HTTPHeader, L"corvane.HTTPHeader", &create_instance<HTTPHeader>},
    {CLSID_HTTPHeaders, L"corvane.HTTPHeaders", &create_instance<HTTPHeaders>},
}};

}  // namespace

std::span<const ComponentClass> component_classes()
{
    return classes;
}

}  // namespace corvane
