// Names from outside through the platform seam: remote names and commands
// that would add a command line, listed names that would leave the target
// folder of a tree download, and the guard on the resolved paths.

#include "frame/class_table.h"
#include "component/ftp.h"
#include "ftp/ftp_errors.h"
#include "tests/common/local_files.h"
#include "tests/unit/com_test_support.h"
#include "tests/unit/fake_platform.h"
#include "transfer/local_names.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

namespace corvane {
namespace {

using ::testing::HasSubstr;
using tests::error_of;
using tests::text_variant;

namespace fs = std::filesystem;

const std::wstring not_sent = L" The name holds a line break or NUL character, so it was not sent.";

// Each way a text can end a command line or be cut short.
const std::vector<std::wstring> line_breakers = {L"a\r\nMKD x", L"a\rb", L"a\nb", std::wstring(L"a\0b", 3),
                                                 L"\r\n"};

using corvane::tests::remove_tree;

class HostileNames : public ::testing::Test {
protected:
    HostileNames()
    {
        fake.on_FormatMessageA = [](DWORD, LPCVOID, DWORD, DWORD, LPSTR, DWORD, const DWORD_PTR*) -> DWORD { return 0; };
        ftp = create_instance<FTP>().query<_FTP>();
        remove_tree(scratch.wstring());
        fs::create_directories(scratch);
    }

    ~HostileNames() override { remove_tree(scratch.wstring()); }

    void connect()
    {
        Variant url = text_variant(L"host");
        Variant user = text_variant(L"tester");
        ASSERT_EQ(ftp->put_URL(*url.get()), S_OK);
        ASSERT_EQ(ftp->put_Username(*user.get()), S_OK);
        ASSERT_EQ(ftp->OpenConnection(), S_OK);
    }

    // What the server lists in /top; every other directory is empty, so
    // that no descent can go on for ever.
    void serve_listing(std::vector<std::pair<std::string, DWORD>> entries)
    {
        listing = std::move(entries);
        fake.on_FtpSetCurrentDirectoryA = [this](HINTERNET, LPCSTR directory) {
            current_directory = directory;
            return TRUE;
        };
        fake.on_FtpFindFirstFileA = [this](HINTERNET, LPCSTR, LPWIN32_FIND_DATAA data, DWORD, DWORD_PTR) -> HINTERNET {
            next = 0;
            if (listing.empty() || current_directory != "/top") {
                fake.last_error = ERROR_NO_MORE_FILES;
                return nullptr;
            }
            fill(data);
            return fake.new_handle();
        };
        fake.on_InternetFindNextFileA = [this](HINTERNET, LPVOID data) {
            if (next >= listing.size())
                return fake.fail(ERROR_NO_MORE_FILES);
            fill(static_cast<WIN32_FIND_DATAA*>(data));
            return TRUE;
        };
    }

    void fill(WIN32_FIND_DATAA* data)
    {
        *data = WIN32_FIND_DATAA{};
        std::strncpy(data->cFileName, listing[next].first.c_str(), MAX_PATH - 1);
        data->dwFileAttributes = listing[next].second;
        ++next;
    }

    // A fresh local folder name in the test's scratch folder, not made yet:
    // whatever a faulty download puts beside it goes with the scratch folder.
    fs::path fresh_folder(const std::string& tag)
    {
        const fs::path folder = scratch / tag;
        remove_tree(folder.wstring());
        return folder;
    }

    HRESULT get_directory(const std::wstring& remote, const fs::path& local, bool traverse = true)
    {
        Variant remote_path = text_variant(remote);
        Variant local_path = text_variant(local.wstring());
        return ftp->GetDirectory(*remote_path.get(), *local_path.get(), VARIANT_TRUE,
                                 traverse ? VARIANT_TRUE : VARIANT_FALSE);
    }

    const fs::path scratch = fs::temp_directory_path() / ("corvane-unit-names-" + std::to_string(GetCurrentProcessId()));
    tests::FakePlatform fake;
    ComPtr<_FTP> ftp;
    std::vector<std::pair<std::string, DWORD>> listing;
    size_t next = 0;
    std::string current_directory;
};

TEST_F(HostileNames, TextThatWouldAddACommandLineIsNeverSent)
{
    connect();
    struct Member {
        const char* name;
        std::function<HRESULT(VARIANT)> call;
        HRESULT number;
        const wchar_t* message;
    };
    Variant plain = text_variant(L"plain");
    // Never made: every call below is refused before it gets that far.
    Variant local = text_variant((fresh_folder("never") / "local.txt").wstring());
    BSTR reply = nullptr;
    const std::vector<Member> members = {
        {"Directory", [&](VARIANT text) { return ftp->put_Directory(text); }, ftp::errors::set_directory.number,
         L"Error setting directory."},
        {"CreateDirectory", [&](VARIANT text) { return ftp->CreateDirectory(text); },
         ftp::errors::create_directory.number, L"Error creating directory."},
        {"RemoveDirectory", [&](VARIANT text) { return ftp->RemoveDirectory(text); },
         ftp::errors::remove_directory.number, L"Error removing directory."},
        {"RenameFile old", [&](VARIANT text) { return ftp->RenameFile(text, *plain.get()); },
         ftp::errors::rename_file.number, L"Error renaming file/directory."},
        {"RenameFile new", [&](VARIANT text) { return ftp->RenameFile(*plain.get(), text); },
         ftp::errors::rename_file.number, L"Error renaming file/directory."},
        {"DeleteFile", [&](VARIANT text) { return ftp->DeleteFile(text); }, ftp::errors::delete_file.number,
         L"Error deleting file from the remote server."},
        {"GetFile", [&](VARIANT text) { return ftp->GetFile(text, *local.get(), VARIANT_TRUE); },
         ftp::errors::get_file.number, L"Error getting file from the remote server."},
        {"PutFile", [&](VARIANT text) { return ftp->PutFile(*local.get(), text); }, ftp::errors::put_file.number,
         L"Error putting file to remote server."},
        {"GetDirectory", [&](VARIANT text) { return ftp->GetDirectory(text, *local.get(), VARIANT_TRUE, VARIANT_TRUE); },
         ftp::errors::get_file.number, L"Error getting file from the remote server."},
        {"PutDirectory", [&](VARIANT text) { return ftp->PutDirectory(*local.get(), text, VARIANT_TRUE); },
         ftp::errors::put_file.number, L"Error putting file to remote server."},
        {"DownloadFileToClient", [&](VARIANT text) { return ftp->DownloadFileToClient(text); },
         ftp::errors::open_file.number, L"Error attempting to open file."},
    };
    for (const Member& member : members) {
        for (const std::wstring& hostile : line_breakers) {
            Variant text = text_variant(hostile);
            fake.calls.clear();
            const auto error = error_of(member.call(*text.get()));
            EXPECT_EQ(error.number, member.number) << member.name;
            EXPECT_EQ(error.source, ftp::errors::source) << member.name;
            EXPECT_EQ(error.description, member.message + not_sent) << member.name;
            EXPECT_TRUE(fake.calls.empty()) << member.name << " called " << fake.calls.front().function;
        }
    }

    // Nor does a name the code page cannot hold go out with stand-ins for
    // the characters it lacks: "?" would name another file, or a pattern.
    fake.ansi_code_page = 1252;
    for (const Member& member : members) {
        Variant text = text_variant(L"/\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac");
        fake.calls.clear();
        const auto error = error_of(member.call(*text.get()));
        EXPECT_EQ(error.number, member.number) << member.name;
        EXPECT_EQ(error.description,
                  member.message + std::wstring(L" The name holds characters the system code page cannot represent, "
                                                L"so it was not sent."))
            << member.name;
        EXPECT_TRUE(fake.calls.empty()) << member.name << " called " << fake.calls.front().function;
    }

    // A raw command is one command line, no more.
    for (const std::wstring& hostile : line_breakers) {
        Variant command = text_variant(L"NOOP" + hostile);
        fake.calls.clear();
        const auto error = error_of(ftp->ExecuteCommand(*command.get(), VARIANT_FALSE, &reply));
        EXPECT_EQ(error.number, ftp::errors::execute_command.number);
        EXPECT_EQ(error.description, L"Error executing command on FTP server. The command holds a line break or NUL "
                                     L"character, so it was not sent.");
        EXPECT_TRUE(fake.calls.empty());
    }
}

TEST_F(HostileNames, LoginTextThatWouldAddACommandLineIsNeverSent)
{
    struct Property {
        HRESULT (STDMETHODCALLTYPE _FTP::*setter)(VARIANT);
        const wchar_t* what;
    };
    for (const Property& property : {Property{&_FTP::put_URL, L"URL"}, Property{&_FTP::put_Username, L"user name"},
                                     Property{&_FTP::put_Password, L"password"},
                                     Property{&_FTP::put_Proxy, L"proxy"}}) {
        for (const std::wstring& hostile : line_breakers) {
            ftp = create_instance<FTP>().query<_FTP>();
            Variant url = text_variant(L"host");
            Variant user = text_variant(L"tester");
            ASSERT_EQ(ftp->put_URL(*url.get()), S_OK);
            ASSERT_EQ(ftp->put_Username(*user.get()), S_OK);
            Variant text = text_variant(L"x" + hostile);
            ASSERT_EQ((ftp.get()->*property.setter)(*text.get()), S_OK);
            fake.calls.clear();
            const auto error = error_of(ftp->OpenConnection());
            EXPECT_EQ(error.number, ftp::errors::open_connection.number) << property.what;
            EXPECT_EQ(error.description, L"Error opening FTP connection. The " + std::wstring(property.what) +
                                             L" holds a line break or NUL character, so it was not sent.");
            EXPECT_TRUE(fake.calls.empty()) << property.what;
            EXPECT_EQ(fake.handles_open(), 0u);
        }
    }
}

TEST_F(HostileNames, TreeDownloadTakesAListedNameOnlyAsOnePlainComponent)
{
    connect();
    struct Case {
        std::string name;
        const wchar_t* refusal;  // null: accepted
        const wchar_t* shown = nullptr;
    };
    const std::vector<Case> cases = {
        {"..\\x", L"holds a path separator", L"\"..\\x\""},
        {"../x", L"holds a path separator"},
        {"a/../../x", L"holds a path separator"},
        {"sub\\..\\..\\x", L"holds a path separator"},
        {"\\x", L"holds a path separator"},
        {"a:b", L"holds a drive or stream colon"},
        {"C:x", L"holds a drive or stream colon"},
        {"file.txt:stream", L"holds a drive or stream colon"},
        {"x\x01y", L"holds a control character", L"\"x\\x01y\""},
        {"x\ry", L"holds a control character", L"\"x\\ry\""},
        {"x\ty", L"holds a control character", L"\"x\\ty\""},
        {"del\x7f", L"holds a control character", L"\"del\\x7f\""},
        {"trail.", L"ends with a dot or a space"},
        {"trail ", L"ends with a dot or a space"},
        {"...", L"ends with a dot or a space"},
        {"nul", L"is a reserved device name"},
        {"NUL", L"is a reserved device name"},
        {"nul.txt", L"is a reserved device name"},
        {"Com1.log", L"is a reserved device name"},
        {"com9", L"is a reserved device name"},
        {"LPT1", L"is a reserved device name"},
        {"lpt3.tar.gz", L"is a reserved device name"},
        {"con", L"is a reserved device name"},
        {"Prn.x", L"is a reserved device name"},
        {"aux", L"is a reserved device name"},
        {"nul .txt", L"is a reserved device name"},
        {"conin$", L"is a reserved device name"},
        {"COM\xB9", L"is a reserved device name"},  // superscript one in the ANSI code page
        {"plain.txt", nullptr},
        {"..hidden", nullptr},
        {".profile", nullptr},
        {"a.b.c", nullptr},
        {" lead", nullptr},
        {"nul_", nullptr},
        {"null.txt", nullptr},
        {"com10", nullptr},
        {"lpt", nullptr},
        {"console", nullptr},
        {"auxiliary.log", nullptr},
    };
    fake.ansi_code_page = 1252;
    const fs::path local = fresh_folder("plain");
    for (const Case& example : cases) {
        for (DWORD attribute : {DWORD{FILE_ATTRIBUTE_NORMAL}, DWORD{FILE_ATTRIBUTE_DIRECTORY}}) {
            const bool directory = attribute == FILE_ATTRIBUTE_DIRECTORY;
            const std::string label = example.name + (directory ? " (directory)" : " (file)");
            // A good name first: nothing is copied before every name passed.
            serve_listing({{".", FILE_ATTRIBUTE_DIRECTORY}, {"first.txt", FILE_ATTRIBUTE_NORMAL},
                           {example.name, attribute}});
            fake.calls.clear();
            remove_tree(local.wstring());
            const auto error = error_of(get_directory(L"/top", local));
            if (!example.refusal) {
                EXPECT_EQ(error.number, S_OK) << label << ": " << to_utf8_unescaped(error.description);
                const fs::path target = local / from_ansi(example.name);
                if (directory) {
                    EXPECT_TRUE(fs::is_directory(target)) << label;
                    EXPECT_EQ(fake.count("FtpOpenFileA"), 1u) << label;
                } else {
                    EXPECT_EQ(fake.count("FtpOpenFileA"), 2u) << label;
                    EXPECT_TRUE(fs::is_regular_file(target)) << label;
                }
                continue;
            }
            EXPECT_EQ(error.number, ftp::errors::get_file.number) << label;
            EXPECT_EQ(error.source, ftp::errors::source);
            const std::wstring shown = example.shown ? example.shown : L"\"" + from_ansi(example.name) + L"\"";
            EXPECT_EQ(error.description, L"Error getting file from the remote server. The entry " + shown +
                                             L" listed in /top " + example.refusal +
                                             L", so nothing of that directory was copied.")
                << label;
            EXPECT_EQ(fake.count("FtpOpenFileA"), 0u) << label;
            EXPECT_FALSE(fs::exists(local)) << label;
        }
    }
}

TEST_F(HostileNames, UntraversedDirectoryIsNotCheckedAndTheDirectoryItselfIsSkipped)
{
    connect();
    serve_listing({{".", FILE_ATTRIBUTE_DIRECTORY}, {"..", FILE_ATTRIBUTE_DIRECTORY},
                   {"..\\up", FILE_ATTRIBUTE_DIRECTORY}, {"kept.txt", FILE_ATTRIBUTE_NORMAL}});
    const fs::path local = fresh_folder("flat");
    ASSERT_EQ(get_directory(L"/top", local, false), S_OK);
    ASSERT_EQ(fake.count("FtpOpenFileA"), 1u);
    EXPECT_EQ(fake.arguments_of("FtpOpenFileA")[1], "\"/top/kept.txt\"");

    // Traversed, the same listing is refused.
    fake.calls.clear();
    EXPECT_EQ(error_of(get_directory(L"/top", local, true)).number, ftp::errors::get_file.number);
    EXPECT_EQ(fake.count("FtpOpenFileA"), 0u);
}

TEST_F(HostileNames, ResolvedPathMustStayInsideTheTargetFolder)
{
    connect();
    serve_listing({{"a.txt", FILE_ATTRIBUTE_NORMAL}, {"b.txt", FILE_ATTRIBUTE_NORMAL}});
    const fs::path local = fresh_folder("resolved");
    const std::wstring folder = local.wstring();
    // A resolution the name check cannot foresee: b.txt lands elsewhere.
    std::wstring escape_to;
    fake.on_GetFullPathNameW = [&](LPCWSTR path, DWORD length, LPWSTR full, LPWSTR* part) -> DWORD {
        const std::wstring text = path;
        if (text.size() >= 5 && text.substr(text.size() - 5) == L"b.txt" && !escape_to.empty()) {
            if (length <= escape_to.size())
                return static_cast<DWORD>(escape_to.size() + 1);
            std::wcscpy(full, escape_to.c_str());
            return static_cast<DWORD>(escape_to.size());
        }
        return real_platform().GetFullPathNameW(path, length, full, part);
    };
    for (const std::wstring& outside : {folder + L"2\\b.txt", fs::path(folder).parent_path().wstring() + L"\\b.txt",
                                        std::wstring(L"C:\\b.txt"), folder}) {
        escape_to = outside;
        fake.calls.clear();
        const auto error = error_of(get_directory(L"/top", local));
        EXPECT_EQ(error.number, ftp::errors::get_file.number) << to_utf8_unescaped(outside);
        EXPECT_EQ(error.description, L"Error getting file from the remote server. The entry \"b.txt\" listed in /top "
                                     L"would be written at " +
                                         outside + L", outside " + folder +
                                         L"\\, so nothing of that directory was copied.");
        EXPECT_EQ(fake.count("FtpOpenFileA"), 0u);
        EXPECT_FALSE(fs::exists(local));
    }

    // Case alone does not make a path outside.
    std::wstring upper = folder + L"\\B.TXT";
    for (wchar_t& character : upper)
        character = static_cast<wchar_t>(std::towupper(character));
    escape_to = upper;
    ASSERT_EQ(get_directory(L"/top", local), S_OK);
    EXPECT_EQ(fake.count("FtpOpenFileA"), 2u);

    // A path the platform cannot resolve is an error of its own.
    fake.on_GetFullPathNameW = [&](LPCWSTR, DWORD, LPWSTR, LPWSTR*) -> DWORD {
        fake.last_error = ERROR_FILENAME_EXCED_RANGE;
        return 0;
    };
    fake.calls.clear();
    const auto error = error_of(get_directory(L"/top", fresh_folder("unresolved")));
    EXPECT_EQ(error.number, ftp::errors::get_file.number);
    EXPECT_EQ(error.description, L"Error getting file from the remote server.GetDirectory error code: 206 Message: ");
    EXPECT_EQ(fake.count("FtpOpenFileA"), 0u);
}

TEST(LocalNames, InsideMeansBelowTheFolderAtASeparator)
{
    struct Case {
        const wchar_t* folder;
        const wchar_t* path;
        bool inside;
    };
    for (const Case& example : {
             Case{L"C:\\out", L"C:\\out\\a", true},
             Case{L"C:\\out\\", L"C:\\out\\a", true},
             Case{L"C:\\out", L"C:\\OUT\\A", true},
             Case{L"c:\\Out", L"C:\\oUT\\sub\\a", true},
             Case{L"C:\\", L"C:\\a", true},
             Case{L"C:\\out", L"C:\\out2\\a", false},
             Case{L"C:\\out", L"C:\\out2", false},
             Case{L"C:\\out", L"C:\\out", false},
             Case{L"C:\\out", L"C:\\out\\", false},
             Case{L"C:\\out", L"C:\\ou", false},
             Case{L"C:\\out", L"C:\\a", false},
             Case{L"C:\\out", L"D:\\out\\a", false},
             Case{L"", L"C:\\a", false},
         })
        EXPECT_EQ(transfer::lies_inside(example.folder, example.path), example.inside)
            << to_utf8_unescaped(example.folder) << " / " << to_utf8_unescaped(example.path);
}

TEST(LocalNames, LocalPathWithANulIsRefused)
{
    tests::FakePlatform fake;
    ComPtr<_FTP> ftp = create_instance<FTP>().query<_FTP>();
    Variant remote = text_variant(L"r.txt");
    Variant local = text_variant(std::wstring(L"C:\\out\\x.asp\0.txt", 17));
    auto error = error_of(ftp->GetFile(*remote.get(), *local.get(), VARIANT_TRUE));
    EXPECT_EQ(error.number, ftp::errors::get_file.number);
    EXPECT_EQ(error.description,
              L"Error getting file from the remote server. The local path holds a NUL character, so it was not used.");
    error = error_of(ftp->PutFile(*local.get(), *remote.get()));
    EXPECT_EQ(error.number, ftp::errors::put_file.number);
    EXPECT_EQ(error.description,
              L"Error putting file to remote server. The local path holds a NUL character, so it was not used.");
    EXPECT_EQ(error_of(ftp->GetDirectory(*remote.get(), *local.get(), VARIANT_TRUE, VARIANT_TRUE)).number,
              ftp::errors::get_file.number);
    EXPECT_EQ(error_of(ftp->PutDirectory(*local.get(), *remote.get(), VARIANT_TRUE)).number,
              ftp::errors::put_file.number);
    EXPECT_TRUE(fake.calls.empty());
}

}  // namespace
}  // namespace corvane
