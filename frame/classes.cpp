#include "frame/classes.h"

#include "frame/interfaces.h"
#include "ftp/ftp.h"
#include "ftp/ftp_file.h"
#include "ftp/ftp_files.h"
#include "http/http.h"
#include "http/http_header.h"
#include "http/http_headers.h"

#include <array>

namespace corvane {

namespace {

const std::array<ComponentClass, 6> classes{{
    {CLSID_FTP, L"corvane.FTP", &FTP::create},
    {CLSID_FTPFile, L"corvane.FTPFile", &FTPFile::create},
    {CLSID_FTPFiles, L"corvane.FTPFiles", &FTPFiles::create},
    {CLSID_HTTP, L"corvane.HTTP", &HTTP::create},
    {CLSID_HTTPHeader, L"corvane.HTTPHeader", &HTTPHeader::create},
    {CLSID_HTTPHeaders, L"corvane.HTTPHeaders", &HTTPHeaders::create},
}};

}  // namespace

std::span<const ComponentClass> component_classes()
{
    return classes;
}

}  // namespace corvane
