// The component against the raw platform doing the same work, interleaved
// in one run so that a busy machine slows both alike and the ratio holds.
// The component is reached late bound, by ProgID, as a script reaches it;
// the baselines call WinInet directly, with the flags the component uses.
//
// Every measurement is one JSON line in the --out file. Items that report
// a peak working set run each measurement in a child process of its own,
// since the platform keeps one peak per process.

#include "bench/clock.h"
#include "tests/integration/automation.h"

#include <objbase.h>
#include <oleauto.h>
#include <psapi.h>
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

using corvane::bench::now_seconds;
using corvane::integration::Automation;
using corvane::integration::ScriptError;
using corvane::integration::Value;
using corvane::integration::narrow;

namespace {

struct Options {
    int ftp_port = 0;
    int ftps_port = 0;  // the same files, explicit TLS demanded
    int http_port = 0;
    std::wstring user = L"anonymous";
    std::wstring password = L"bench@";
    bool passive = false;
    std::wstring work;  // local folder, Windows path
    std::wstring out;
    std::wstring result;  // a child's result file
    int runs = 5;
    std::vector<std::wstring> items;
    long long big_bytes = 256ll << 20;
    long long save_mib = 1024;  // the body SaveToFile streams
    // Wine reads a listing a byte at a time, a server round trip each:
    // the sizes are chosen by the caller to fit the run's time.
    std::vector<int> list_sizes{1000, 10000};
    int text_entries = 1000;
    int page_entries = 1000;
    // The component's own engine: the item to run, alone, and the size of
    // the file it copies.
    std::wstring native;
    long long native_big_mib = 256;
};

Options options;

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error(what);
}

std::string last_error(const char* call)
{
    const DWORD code = GetLastError();
    std::string text = std::string(call) + " failed, error " + std::to_string(code);
    if (code == ERROR_INTERNET_EXTENDED_ERROR) {
        char reply[2048];
        DWORD length = sizeof reply;
        DWORD detail = 0;
        if (InternetGetLastResponseInfoA(&detail, reply, &length))
            text += ": " + std::string(reply, length);
    }
    return text;
}

std::string ansi(const std::wstring& text)
{
    const int length = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string result(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result.data(), length, nullptr,
                        nullptr);
    return result;
}

double now()
{
    return now_seconds();
}

PROCESS_MEMORY_COUNTERS memory()
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters;
}

// The platform keeps one peak per process, and loading the libraries may
// have set it above the working set a measurement starts from, hiding any
// rise below it. Under Wine the peak is Linux's VmHWM, which the kernel
// resets to the present size on request; elsewhere this does nothing.
void reset_peak()
{
    FILE* file = _wfopen(L"Z:\\proc\\self\\clear_refs", L"wb");
    if (!file)
        return;
    std::fputs("5", file);
    std::fclose(file);
}

// The working set a measurement starts from, with the peak brought down
// to it where the platform allows.
SIZE_T starting_set()
{
    reset_peak();
    return memory().WorkingSetSize;
}

// One measurement: time, and for child items the working set.
struct Sample {
    double seconds = 0;
    long long bytes = 0;        // the work's size, for a throughput
    long long peak = -1;        // peak working set over the work, less the set before it
    long long peak_first = -1;  // the same over a first step alone, where there is one
};

// Uploads are named after the architecture: every architecture of a run
// writes to the same server.
constexpr const wchar_t* architecture = sizeof(void*) == 8 ? L"x64" : L"x86";

std::wstring local(const std::wstring& name)
{
    return options.work + L"\\" + name;
}

// --- the component ------------------------------------------------------

// The values of the FTP object's Engine.
constexpr int engine_platform = 1;
constexpr int engine_native = 2;

// Bound to the page first when there is one, as Server.CreateObject does.
Automation unconnected_ftp(const Automation* page = nullptr, int engine = engine_platform)
{
    Automation ftp = Automation::create(L"corvane.FTP");
    if (page)
        ftp.call(L"OnStartPage", {Value(page->get(L"Context"))});
    if (engine != engine_platform)
        ftp.put(L"Engine", engine);
    ftp.put(L"URL", L"127.0.0.1");
    ftp.put(L"Port", options.ftp_port);
    ftp.put(L"Username", options.user);
    ftp.put(L"Password", options.password);
    ftp.put(L"Passive", options.passive);
    ftp.put(L"TransferType", 2);
    return ftp;
}

Automation connected_ftp(const Automation* page = nullptr, int engine = engine_platform)
{
    Automation ftp = unconnected_ftp(page, engine);
    ftp.call(L"OpenConnection");
    return ftp;
}

Automation new_page()
{
    Automation page = Automation::create(L"AspTestHost.Page");
    page.call(L"SetServerVariable", {L"SERVER_NAME", L"localhost"});
    page.call(L"SetServerVariable", {L"SERVER_PORT", L"8080"});
    page.call(L"SetServerVariable", {L"SCRIPT_NAME", L"/browse.asp"});
    return page;
}

// --- the raw platform ---------------------------------------------------

class Handle {
public:
    Handle() = default;
    explicit Handle(HINTERNET handle) : handle_(handle) {}
    Handle(Handle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    Handle& operator=(Handle&& other) noexcept
    {
        std::swap(handle_, other.handle_);
        return *this;
    }
    ~Handle()
    {
        if (handle_)
            InternetCloseHandle(handle_);
    }
    HINTERNET get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    HINTERNET handle_ = nullptr;
};

struct RawFtp {
    Handle session;
    Handle connection;
};

RawFtp raw_ftp()
{
    RawFtp raw;
    raw.session = Handle(InternetOpenA("bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!raw.session)
        fail(last_error("InternetOpenA"));
    raw.connection = Handle(InternetConnectA(raw.session.get(), "127.0.0.1", static_cast<INTERNET_PORT>(options.ftp_port),
                                             ansi(options.user).c_str(), ansi(options.password).c_str(),
                                             INTERNET_SERVICE_FTP, options.passive ? INTERNET_FLAG_PASSIVE : 0, 0));
    if (!raw.connection)
        fail(last_error("InternetConnectA"));
    return raw;
}

constexpr DWORD find_flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
constexpr DWORD binary = FTP_TRANSFER_TYPE_BINARY;

std::vector<WIN32_FIND_DATAA> raw_list(HINTERNET connection)
{
    std::vector<WIN32_FIND_DATAA> entries;
    WIN32_FIND_DATAA record{};
    Handle search(FtpFindFirstFileA(connection, nullptr, &record, find_flags, 0));
    if (!search) {
        if (GetLastError() == ERROR_NO_MORE_FILES)
            return entries;
        fail(last_error("FtpFindFirstFileA"));
    }
    do
        entries.push_back(record);
    while (InternetFindNextFileA(search.get(), &record));
    if (GetLastError() != ERROR_NO_MORE_FILES)
        fail(last_error("InternetFindNextFileA"));
    return entries;
}

void raw_cd(HINTERNET connection, const std::string& directory)
{
    if (!FtpSetCurrentDirectoryA(connection, directory.c_str()))
        fail(last_error(("FtpSetCurrentDirectoryA " + directory).c_str()));
}

// A tree fetched as a hand-written client would: list, make the folder,
// fetch each file, descend into each folder.
void raw_get_tree(HINTERNET connection, const std::string& remote, const std::string& local_path, int& files)
{
    raw_cd(connection, remote);
    const std::vector<WIN32_FIND_DATAA> entries = raw_list(connection);
    CreateDirectoryA(local_path.c_str(), nullptr);
    for (const WIN32_FIND_DATAA& entry : entries) {
        const std::string name = entry.cFileName;
        if (name == "." || name == "..")
            continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            raw_get_tree(connection, remote + "/" + name, local_path + "\\" + name, files);
        } else {
            if (!FtpGetFileA(connection, (remote + "/" + name).c_str(), (local_path + "\\" + name).c_str(), FALSE,
                             FILE_ATTRIBUTE_NORMAL, binary | INTERNET_FLAG_NO_CACHE_WRITE, 0))
                fail(last_error("FtpGetFileA"));
            ++files;
        }
    }
}

void raw_put_tree(HINTERNET connection, const std::string& local_path, const std::string& remote, int& files)
{
    WIN32_FIND_DATAA entry{};
    HANDLE search = FindFirstFileA((local_path + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        fail(last_error("FindFirstFileA"));
    do {
        const std::string name = entry.cFileName;
        if (name == "." || name == "..")
            continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!FtpCreateDirectoryA(connection, (remote + "/" + name).c_str()))
                fail(last_error("FtpCreateDirectoryA"));
            raw_put_tree(connection, local_path + "\\" + name, remote + "/" + name, files);
        } else {
            if (!FtpPutFileA(connection, (local_path + "\\" + name).c_str(), (remote + "/" + name).c_str(), binary,
                             0))
                fail(last_error("FtpPutFileA"));
            ++files;
        }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
}

// --- HTTP, in a child -----------------------------------------------------

std::wstring http_url(long long mib)
{
    return L"http://127.0.0.1:" + std::to_wstring(options.http_port) + L"/body" + std::to_wstring(mib) + L".txt";
}

// A worker that fetches has its libraries started long before: one small
// request first, each variant its own way, so that their one-time start is
// not counted as memory the body costs.
std::wstring warm_up_url()
{
    return L"http://127.0.0.1:" + std::to_wstring(options.http_port) + L"/warm-up";
}

Sample http_component(long long mib)
{
    Automation http = Automation::create(L"corvane.HTTP");
    http.put(L"URL", warm_up_url());
    http.call(L"OpenConnection");
    http.get(L"Content");
    http.call(L"Reset");
    http.put(L"URL", http_url(mib));
    Sample sample;
    const SIZE_T before = starting_set();
    const double start = now();
    http.call(L"OpenConnection");
    sample.peak_first = static_cast<long long>(memory().PeakWorkingSetSize - before);
    Value content = http.get(L"Content");
    sample.seconds = now() - start;
    sample.peak = static_cast<long long>(memory().PeakWorkingSetSize - before);
    sample.bytes = SysStringLen(V_BSTR(content.get()));
    return sample;
}

// A GET sent straight through the platform, with the flags the component
// opens its requests with; its handles close in reverse order.
struct RawGet {
    Handle session;
    Handle connection;
    Handle request;
};

RawGet send_raw_get(const std::string& path)
{
    RawGet get;
    get.session = Handle(InternetOpenA("bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    get.connection = Handle(InternetConnectA(get.session.get(), "127.0.0.1",
                                             static_cast<INTERNET_PORT>(options.http_port), "", "",
                                             INTERNET_SERVICE_HTTP, 0, 0));
    if (!get.connection)
        fail(last_error("InternetConnectA"));
    get.request = Handle(HttpOpenRequestA(get.connection.get(), "GET", path.c_str(), nullptr, nullptr, nullptr,
                                          INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD, 0));
    if (!get.request)
        fail(last_error("HttpOpenRequestA"));
    if (!HttpSendRequestA(get.request.get(), nullptr, 0, nullptr, 0))
        fail(last_error("HttpSendRequestA"));
    return get;
}

Sample http_raw(long long mib, bool with_string)
{
    const std::string path = "/body" + std::to_string(mib) + ".txt";
    send_raw_get("/warm-up");
    Sample sample;
    const SIZE_T before = starting_set();
    const double start = now();
    RawGet get = send_raw_get(path);
    const Handle& request = get.request;
    DWORD status = 0;
    DWORD status_length = sizeof status;
    if (!HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &status_length,
                        nullptr) ||
        status != 200)
        fail("HTTP status " + std::to_string(status));
    std::string body;
    std::vector<char> chunk(32768);
    for (;;) {
        DWORD read = 0;
        if (!InternetReadFile(request.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &read))
            fail(last_error("InternetReadFile"));
        if (read == 0)
            break;
        body.append(chunk.data(), read);
    }
    get = RawGet();
    BSTR text = nullptr;
    if (with_string) {
        const int length = MultiByteToWideChar(CP_ACP, 0, body.data(), static_cast<int>(body.size()), nullptr, 0);
        text = SysAllocStringLen(nullptr, static_cast<UINT>(length));
        MultiByteToWideChar(CP_ACP, 0, body.data(), static_cast<int>(body.size()), text, length);
        std::string().swap(body);
    }
    sample.seconds = now() - start;
    sample.peak = static_cast<long long>(memory().PeakWorkingSetSize - before);
    sample.bytes = with_string ? SysStringLen(text) : static_cast<long long>(body.size());
    SysFreeString(text);
    return sample;
}

// --- SaveToFile, in a child ----------------------------------------------

std::wstring save_url(long long mib)
{
    return L"http://127.0.0.1:" + std::to_wstring(options.http_port) + L"/save" + std::to_wstring(mib) + L".bin";
}

long long file_size(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return static_cast<long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

// Where a run's file goes; removed after it, so that a run starts with no
// file to replace and the disk holds one body at a time.
std::wstring saved_file(const wchar_t* variant)
{
    return local(L"save-" + std::wstring(variant) + L"-" + architecture + L".bin");
}

Sample save_component(long long mib)
{
    Automation http = Automation::create(L"corvane.HTTP");
    http.put(L"URL", save_url(mib));
    const std::wstring target = saved_file(L"component");
    Sample sample;
    const SIZE_T before = starting_set();
    const double start = now();
    http.call(L"SaveToFile", {target});
    sample.seconds = now() - start;
    sample.peak = static_cast<long long>(memory().PeakWorkingSetSize - before);
    sample.bytes = file_size(target);
    DeleteFileW(target.c_str());
    return sample;
}

// What a hand-written client would do: the component's request flags, a
// 64 KiB read loop, each read written to the file as it comes.
Sample save_raw(long long mib)
{
    const std::string path = "/save" + std::to_string(mib) + ".bin";
    const std::wstring target = saved_file(L"raw");
    Sample sample;
    const SIZE_T before = starting_set();
    const double start = now();
    RawGet get = send_raw_get(path);
    const Handle& request = get.request;
    HANDLE file = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        fail(last_error("CreateFileW"));
    std::vector<char> chunk(65536);
    for (;;) {
        DWORD read = 0;
        if (!InternetReadFile(request.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &read)) {
            CloseHandle(file);
            fail(last_error("InternetReadFile"));
        }
        if (read == 0)
            break;
        DWORD written = 0;
        if (!WriteFile(file, chunk.data(), read, &written, nullptr) || written != read) {
            CloseHandle(file);
            fail(last_error("WriteFile"));
        }
    }
    CloseHandle(file);
    get = RawGet();
    sample.seconds = now() - start;
    sample.peak = static_cast<long long>(memory().PeakWorkingSetSize - before);
    sample.bytes = file_size(target);
    DeleteFileW(target.c_str());
    return sample;
}

// --- DownloadFileToClient, in a child -----------------------------------

Sample download_component()
{
    Automation page = new_page();
    page.put(L"StreamBody", true);
    Automation ftp = connected_ftp(&page);
    Sample sample;
    const SIZE_T before = starting_set();
    const double start = now();
    ftp.call(L"DownloadFileToClient", {L"/download.bin"});
    sample.seconds = now() - start;
    sample.peak = static_cast<long long>(memory().PeakWorkingSetSize - before);
    sample.bytes = page.get(L"BytesWritten").integer();
    ftp.call(L"CloseConnection");
    return sample;
}

// `chunk` bytes a read: 64 KiB as a hand-written loop would take, and the
// component's own 4 KiB, to tell the read size from the rest of its work.
Sample download_raw(size_t chunk_size)
{
    RawFtp raw = raw_ftp();
    Sample sample;
    const SIZE_T before = starting_set();
    const double start = now();
    Handle file(FtpOpenFileA(raw.connection.get(), "/download.bin", GENERIC_READ, binary, 0));
    if (!file)
        fail(last_error("FtpOpenFileA"));
    std::vector<char> chunk(chunk_size);
    for (;;) {
        DWORD read = 0;
        if (!InternetReadFile(file.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &read))
            fail(last_error("InternetReadFile"));
        if (read == 0)
            break;
        sample.bytes += read;
    }
    file = Handle();
    sample.seconds = now() - start;
    sample.peak = static_cast<long long>(memory().PeakWorkingSetSize - before);
    return sample;
}

// --- running ------------------------------------------------------------

std::string json_number(double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

std::string json_line(const std::string& item, const std::string& variant, int run, const Sample& sample)
{
    return "{\"item\":\"" + item + "\",\"variant\":\"" + variant + "\",\"run\":" + std::to_string(run) +
           ",\"seconds\":" + json_number(sample.seconds) + ",\"bytes\":" + std::to_string(sample.bytes) +
           ",\"peak\":" + std::to_string(sample.peak) + ",\"peak_first\":" + std::to_string(sample.peak_first) +
           "}";
}

void append_line(const std::wstring& path, const std::string& line)
{
    FILE* file = _wfopen(path.c_str(), L"ab");
    if (!file)
        fail("cannot write " + narrow(path));
    std::fputs((line + "\n").c_str(), file);
    std::fclose(file);
}

std::string read_text(const std::wstring& path)
{
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file)
        return {};
    std::string text;
    char block[4096];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0)
        text.append(block, got);
    std::fclose(file);
    return text;
}

double field(const std::string& line, const std::string& name)
{
    const size_t at = line.find("\"" + name + "\":");
    if (at == std::string::npos)
        fail("no " + name + " in " + line);
    return std::strtod(line.c_str() + at + name.size() + 3, nullptr);
}

std::wstring own_path()
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

std::wstring common_arguments()
{
    return L" --ftp-port " + std::to_wstring(options.ftp_port) + L" --http-port " +
           std::to_wstring(options.http_port) + L" --user \"" + options.user + L"\" --password \"" +
           options.password + L"\"" + (options.passive ? L" --passive" : L"") + L" --work \"" + options.work + L"\"";
}

// A measurement in a fresh process, for a peak of its own.
Sample in_child(const std::wstring& child_item, const std::wstring& variant)
{
    const std::wstring result = local(L"child-result.json");
    DeleteFileW(result.c_str());
    std::wstring command = L"\"" + own_path() + L"\" --child " + child_item + L" " + variant + common_arguments() +
                           L" --result \"" + result + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        fail(last_error("CreateProcessW"));
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    const std::string line = read_text(result);
    if (code != 0 || line.empty())
        fail("child " + narrow(child_item) + " " + narrow(variant) + " failed (exit " + std::to_string(code) + ")");
    Sample sample;
    sample.seconds = field(line, "seconds");
    sample.bytes = static_cast<long long>(field(line, "bytes"));
    sample.peak = static_cast<long long>(field(line, "peak"));
    sample.peak_first = static_cast<long long>(field(line, "peak_first"));
    return sample;
}

int child_main(const std::wstring& child_item, const std::wstring& variant)
{
    Sample sample;
    if (child_item.rfind(L"http-", 0) == 0) {
        const long long mib = std::stoll(child_item.substr(5));
        sample = variant == L"component" ? http_component(mib) : http_raw(mib, variant == L"raw-string");
    } else if (child_item.rfind(L"save-", 0) == 0) {
        const long long mib = std::stoll(child_item.substr(5));
        sample = variant == L"component" ? save_component(mib) : save_raw(mib);
    } else if (child_item == L"download") {
        sample = variant == L"component" ? download_component()
                                         : download_raw(variant == L"raw-4k" ? 4096 : 65536);
    } else {
        fail("unknown child item " + narrow(child_item));
    }
    append_line(options.result, json_line(narrow(child_item), narrow(variant), 0, sample));
    return 0;
}

// One named variant of an item: a measurement, set up and cleared by the
// caller's closures around it.
struct Variant {
    std::string name;
    std::function<Sample(int run)> measure;
};

double median_of(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Runs each variant `runs` times, rotating which goes first, and writes
// every sample.
void interleave(const std::string& item, const std::vector<Variant>& variants)
{
    if (!options.items.empty() &&
        std::find(options.items.begin(), options.items.end(), std::wstring(item.begin(), item.end())) ==
            options.items.end())
        return;
    std::fprintf(stderr, "   %-22s", item.c_str());
    std::map<std::string, std::vector<double>> times;
    const double started = now();
    for (int run = 1; run <= options.runs; ++run) {
        for (size_t turn = 0; turn < variants.size(); ++turn) {
            const Variant& variant = variants[(turn + static_cast<size_t>(run)) % variants.size()];
            const Sample sample = variant.measure(run);
            times[variant.name].push_back(sample.seconds);
            append_line(options.out, json_line(item, variant.name, run, sample));
        }
    }
    for (const Variant& variant : variants)
        std::fprintf(stderr, " %s %.3f s", variant.name.c_str(), median_of(times[variant.name]));
    std::fprintf(stderr, "  (%.0f s)\n", now() - started);
}

template <class Work>
Sample timed(Work&& work)
{
    Sample sample;
    const double start = now();
    sample.bytes = work();
    sample.seconds = now() - start;
    return sample;
}

void remove_tree(const std::wstring& path)
{
    WIN32_FIND_DATAW entry{};
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                remove_tree(path + L"\\" + name);
            else
                DeleteFileW((path + L"\\" + name).c_str());
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

Sample files_of(const Automation& ftp)
{
    return timed([&] {
        Automation collection(ftp.call(L"Files").object());
        return collection.call(L"Count").integer();
    });
}

void listing_items()
{
    for (int entries : options.list_sizes) {
        const std::wstring directory = L"/list" + std::to_wstring(entries);
        Automation ftp = connected_ftp();
        ftp.put(L"Directory", directory);
        RawFtp raw = raw_ftp();
        raw_cd(raw.connection.get(), ansi(directory));
        interleave("list-" + std::to_string(entries),
                   {{"component", [&](int) { return files_of(ftp); }},
                    {"raw", [&](int) {
                         return timed([&] { return static_cast<long long>(raw_list(raw.connection.get()).size()); });
                     }}});
        ftp.call(L"CloseConnection");
    }
    const std::wstring directory = L"/list" + std::to_wstring(options.text_entries);
    Automation ftp = connected_ftp();
    ftp.put(L"Directory", directory);
    interleave("text-" + std::to_string(options.text_entries),
               {{"component", [&](int) {
                     return timed([&] {
                         Value text = ftp.call(L"GetDirectoryListing", {63});
                         return static_cast<long long>(SysStringLen(V_BSTR(text.get())));
                     });
                 }},
                {"files", [&](int) { return files_of(ftp); }}});
    ftp.call(L"CloseConnection");
}

void print_client_item()
{
    const std::wstring directory = L"/list" + std::to_wstring(options.page_entries);
    Automation ftp = connected_ftp();
    ftp.put(L"Directory", directory);
    interleave("printclient-" + std::to_string(options.page_entries),
               {{"component", [&](int) {
                     Automation page = new_page();
                     page.call(L"SetQueryString", {L"d", directory});
                     Automation browser = connected_ftp(&page);
                     Sample sample = timed([&] {
                         browser.call(L"PrintClient");
                         return 0ll;
                     });
                     sample.bytes = page.get(L"BytesWritten").integer();
                     browser.call(L"CloseConnection");
                     return sample;
                 }},
                {"files", [&](int) { return files_of(ftp); }}});
    ftp.call(L"CloseConnection");
}

void file_items()
{
    Automation ftp = connected_ftp();
    RawFtp raw = raw_ftp();
    const std::wstring got_component = local(L"get-component.bin");
    const std::wstring got_raw = local(L"get-raw.bin");
    interleave("getfile", {{"component", [&](int) {
                                DeleteFileW(got_component.c_str());
                                return timed([&] {
                                    ftp.call(L"GetFile", {L"/big.bin", got_component, true});
                                    return options.big_bytes;
                                });
                            }},
                           {"raw", [&](int) {
                                DeleteFileW(got_raw.c_str());
                                return timed([&] {
                                    if (!FtpGetFileA(raw.connection.get(), "/big.bin", ansi(got_raw).c_str(), FALSE,
                                                     FILE_ATTRIBUTE_NORMAL, binary | INTERNET_FLAG_NO_CACHE_WRITE, 0))
                                        fail(last_error("FtpGetFileA"));
                                    return options.big_bytes;
                                });
                            }}});
    DeleteFileW(got_component.c_str());
    DeleteFileW(got_raw.c_str());
    const std::wstring source = local(L"big.bin");
    interleave("putfile", {{"component", [&](int) {
                                return timed([&] {
                                    const std::wstring target = L"/up/component-" + std::wstring(architecture) + L".bin";
                                    ftp.call(L"PutFile", {source, target});
                                    return options.big_bytes;
                                });
                            }},
                           {"raw", [&](int) {
                                return timed([&] {
                                    const std::string target = "/up/raw-" + ansi(architecture) + ".bin";
                                    if (!FtpPutFileA(raw.connection.get(), ansi(source).c_str(), target.c_str(),
                                                     binary, 0))
                                        fail(last_error("FtpPutFileA"));
                                    return options.big_bytes;
                                });
                            }}});
    ftp.call(L"CloseConnection");
}

void connect_item()
{
    constexpr int cycles = 300;
    Automation ftp = Automation::create(L"corvane.FTP");
    ftp.put(L"URL", L"127.0.0.1");
    ftp.put(L"Port", options.ftp_port);
    ftp.put(L"Username", options.user);
    ftp.put(L"Password", options.password);
    ftp.put(L"Passive", options.passive);
    interleave("connect-300", {{"component", [&](int) {
                                    return timed([&] {
                                        for (int cycle = 0; cycle < cycles; ++cycle) {
                                            ftp.call(L"OpenConnection");
                                            ftp.call(L"CloseConnection");
                                        }
                                        return static_cast<long long>(cycles);
                                    });
                                }},
                               {"raw", [&](int) {
                                    return timed([&] {
                                        for (int cycle = 0; cycle < cycles; ++cycle)
                                            raw_ftp();
                                        return static_cast<long long>(cycles);
                                    });
                                }}});
}

// One item of the component's own engine, once per call: ./run bench
// alternates each run with curl's on the same work (curl_times.py --native),
// so that a machine busier at one moment slows both alike. As curl's, the
// connection lists the root first, untimed: a page in a long-lived worker
// process does not pay a process's first listing.
void native_item(const std::string& item)
{
    // An item named native-tls-<work> does <work> over FTPS, in passive mode
    // as curl's must. The certificate check is skipped, as curl's -k does:
    // the rows time transfers.
    const std::string tls_prefix = "native-tls-";
    const bool tls = item.rfind(tls_prefix, 0) == 0;
    const std::string work = tls ? "native-" + item.substr(tls_prefix.size()) : item;
    const auto connected_native = [&] {
        Automation ftp = unconnected_ftp(nullptr, engine_native);
        if (tls) {
            if (!options.ftps_port)
                fail("--ftps-port is needed for " + item);
            ftp.put(L"Port", options.ftps_port);
            ftp.put(L"Passive", true);
            ftp.put(L"Security", 1);
            ftp.put(L"IgnoreCertificateErrors", true);
        }
        ftp.call(L"OpenConnection");
        return ftp;
    };
    const std::string list_prefix = "native-list-";
    const std::string rounds_prefix = "native-rounds-";
    if (work.rfind(list_prefix, 0) == 0) {
        Automation ftp = connected_native();
        files_of(ftp);
        ftp.put(L"Directory", L"/list" + std::to_wstring(std::stoi(work.substr(list_prefix.size()))));
        interleave(item, {{"native", [&](int) { return files_of(ftp); }}});
        ftp.call(L"CloseConnection");
    } else if (work == "native-getfile" || work == "native-putfile") {
        Automation ftp = connected_native();
        files_of(ftp);
        const std::wstring name = L"big" + std::to_wstring(options.native_big_mib) + L".bin";
        const long long bytes = options.native_big_mib << 20;
        const std::wstring got = local(L"get-native.bin");
        const std::wstring target =
            L"/up/native-" + std::wstring(tls ? L"tls-" : L"") + std::wstring(architecture) + L"-" + name;
        // The file each run writes is deleted before it and at once after it,
        // untimed: replacing it would charge the run with the server's
        // freeing and flushing of it, and left behind, the system's writing
        // it out would slow the runs that follow.
        const auto delete_target = [&] {
            try {
                ftp.call(L"DeleteFile", {target});
            } catch (const corvane::integration::ScriptError&) {
            }
        };
        interleave(item, {{"native", [&](int) {
                               Sample sample;
                               if (work == "native-putfile") {
                                   delete_target();
                                   sample = timed([&] {
                                       ftp.call(L"PutFile", {local(name), target});
                                       return bytes;
                                   });
                                   delete_target();
                                   return sample;
                               }
                               DeleteFileW(got.c_str());
                               sample = timed([&] {
                                   ftp.call(L"GetFile", {L"/" + name, got, true});
                                   return bytes;
                               });
                               DeleteFileW(got.c_str());
                               return sample;
                           }}});
        DeleteFileW(got.c_str());
        ftp.call(L"CloseConnection");
    } else if (!tls && item.rfind(rounds_prefix, 0) == 0) {
        const int rounds = std::stoi(item.substr(rounds_prefix.size()));
        Automation ftp = unconnected_ftp(nullptr, engine_native);
        interleave(item, {{"native", [&](int) {
                               return timed([&] {
                                   for (int round = 0; round < rounds; ++round) {
                                       ftp.call(L"OpenConnection");
                                       Automation collection(ftp.call(L"Files").object());
                                       collection.call(L"Count");
                                       ftp.call(L"CloseConnection");
                                   }
                                   return static_cast<long long>(rounds);
                               });
                           }}});
    } else {
        fail("unknown item " + item);
    }
}

void http_items()
{
    for (long long mib : {1, 16, 64}) {
        const std::wstring child = L"http-" + std::to_wstring(mib);
        interleave(narrow(child), {{"component", [&](int) { return in_child(child, L"component"); }},
                                   {"raw", [&](int) { return in_child(child, L"raw"); }},
                                   {"raw-string", [&](int) { return in_child(child, L"raw-string"); }}});
    }
}

// The body goes to a file: the peak working set stays flat whatever its
// size, where OpenConnection + Content (http-N) holds it three times over.
void save_item()
{
    const std::wstring child = L"save-" + std::to_wstring(options.save_mib);
    interleave(narrow(child), {{"component", [&](int) { return in_child(child, L"component"); }},
                               {"raw", [&](int) { return in_child(child, L"raw"); }}});
}

void download_item()
{
    interleave("download", {{"component", [&](int) { return in_child(L"download", L"component"); }},
                            {"raw", [&](int) { return in_child(L"download", L"raw"); }},
                            {"raw-4k", [&](int) { return in_child(L"download", L"raw-4k"); }}});
}

void tree_items()
{
    Automation ftp = connected_ftp();
    RawFtp raw = raw_ftp();
    const std::wstring down = local(L"tree-down");
    CreateDirectoryW(down.c_str(), nullptr);
    interleave("tree-get", {{"component", [&](int run) {
                                 const std::wstring target = down + L"\\component-" + std::to_wstring(run);
                                 Sample sample = timed([&] {
                                     ftp.call(L"GetDirectory", {L"/tree", target, true, true});
                                     return 0ll;
                                 });
                                 remove_tree(target);
                                 return sample;
                             }},
                            {"raw", [&](int run) {
                                 const std::wstring target = down + L"\\raw-" + std::to_wstring(run);
                                 Sample sample = timed([&] {
                                     int files = 0;
                                     raw_get_tree(raw.connection.get(), "/tree", ansi(target), files);
                                     return static_cast<long long>(files);
                                 });
                                 raw_cd(raw.connection.get(), "/");
                                 remove_tree(target);
                                 return sample;
                             }}});
    remove_tree(down);
    const std::wstring source = local(L"tree");
    interleave("tree-put", {{"component", [&](int run) {
                                 const std::wstring target =
                                     L"/up/tree-component-" + std::wstring(architecture) + L"-" + std::to_wstring(run);
                                 ftp.call(L"CreateDirectory", {target});
                                 return timed([&] {
                                     ftp.call(L"PutDirectory", {source, target, true});
                                     return 0ll;
                                 });
                             }},
                            {"raw", [&](int run) {
                                 const std::string target =
                                     "/up/tree-raw-" + ansi(architecture) + "-" + std::to_string(run);
                                 if (!FtpCreateDirectoryA(raw.connection.get(), target.c_str()))
                                     fail(last_error("FtpCreateDirectoryA"));
                                 return timed([&] {
                                     int files = 0;
                                     raw_put_tree(raw.connection.get(), ansi(source), target, files);
                                     return static_cast<long long>(files);
                                 });
                             }}});
    ftp.call(L"CloseConnection");
}

std::vector<std::wstring> split(const std::wstring& list)
{
    std::vector<std::wstring> parts;
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(L',', start);
        if (comma == std::wstring::npos)
            comma = list.size();
        if (comma > start)
            parts.push_back(list.substr(start, comma - start));
        start = comma + 1;
    }
    return parts;
}

void parse(int count, wchar_t** arguments)
{
    for (int index = 1; index < count; ++index) {
        const std::wstring name = arguments[index];
        auto next = [&]() -> std::wstring {
            if (index + 1 >= count)
                fail("missing value after " + narrow(name));
            return arguments[++index];
        };
        if (name == L"--ftp-port")
            options.ftp_port = std::stoi(next());
        else if (name == L"--ftps-port")
            options.ftps_port = std::stoi(next());
        else if (name == L"--http-port")
            options.http_port = std::stoi(next());
        else if (name == L"--user")
            options.user = next();
        else if (name == L"--password")
            options.password = next();
        else if (name == L"--passive")
            options.passive = true;
        else if (name == L"--work")
            options.work = next();
        else if (name == L"--out")
            options.out = next();
        else if (name == L"--result")
            options.result = next();
        else if (name == L"--runs")
            options.runs = std::stoi(next());
        else if (name == L"--save-mib")
            options.save_mib = std::stoll(next());
        else if (name == L"--big-mib")
            options.big_bytes = std::stoll(next()) << 20;
        else if (name == L"--list-sizes") {
            options.list_sizes.clear();
            for (const std::wstring& size : split(next()))
                options.list_sizes.push_back(std::stoi(size));
        } else if (name == L"--native")
            options.native = next();
        else if (name == L"--native-big-mib")
            options.native_big_mib = std::stoll(next());
        else if (name == L"--text-entries")
            options.text_entries = std::stoi(next());
        else if (name == L"--page-entries")
            options.page_entries = std::stoi(next());
        else if (name == L"--items")
            options.items = split(next());
        else
            fail("unknown argument " + narrow(name));
    }
}

}  // namespace

int wmain(int count, wchar_t** arguments)
{
    try {
        const bool child = count > 3 && std::wstring(arguments[1]) == L"--child";
        // A child's item and variant come first; the options follow.
        parse(child ? count - 3 : count, child ? arguments + 3 : arguments);
        if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
            fail("CoInitializeEx failed");
        if (child)
            return child_main(arguments[2], arguments[3]);
        if (options.out.empty() || options.work.empty() || !options.ftp_port || !options.http_port)
            fail("usage: platform_bench --ftp-port P --http-port P --work DIR --out FILE [--runs N] [--items a,b]");
        // Hold the COM and network libraries for the whole run, so that no
        // variant pays for loading them.
        { Automation warm = Automation::create(L"corvane.FTP"); }
        if (!options.native.empty()) {
            native_item(narrow(options.native));
            CoUninitialize();
            return 0;
        }
        http_items();
        save_item();
        listing_items();
        file_items();
        connect_item();
        print_client_item();
        download_item();
        tree_items();
        CoUninitialize();
        return 0;
    } catch (const ScriptError& error) {
        std::fprintf(stderr, "platform_bench: %s (0x%08lx)\n", narrow(error.description).c_str(),
                     static_cast<unsigned long>(error.number));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "platform_bench: %s\n", error.what());
    }
    return 1;
}
