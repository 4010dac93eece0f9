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
    {CLSID_FTP, L"FTP", &FTP::create},
    {CLSID_FTPFile, L"FTPFile", &FTPFile::create},
    {CLSID_FTPFiles, L"FTPFiles", &FTPFiles::create},
    {CLSID_HTTP, L"HTTP", &HTTP::create},
    {CLSID_HTTPHeader, L"HTTPHeader", &HTTPHeader::create},
    {CLSID_HTTPHeaders, L"HTTPHeaders", &HTTPHeaders::create},
}};

}  // namespace

std::span<const ComponentClass> component_classes()
{
    return classes;
}

const ComponentClass* find_component_class(REFCLSID class_id)
{
    for (const ComponentClass& entry : classes) {
        if (IsEqualCLSID(entry.class_id, class_id))
            return &entry;
    }
    return nullptr;
}

}  // namespace corvane
