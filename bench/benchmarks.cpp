// Speed and memory of the component on large inputs, with the network
// replaced by BenchPlatform: listings of 1,000 to 100,000 entries, HTTP
// bodies of 1 to 64 MB, and the browser page.
//
//   benchmarks.exe [listing] [http] [page]     (no group: all of them)
//   benchmarks.exe listing-large               (the listing up to 1,000,000)
//
// Each HTTP body size runs in a process of its own (--http-child MB), so
// that its peak working set is its own.

#include "bench/bench_platform.h"
#include "bench/clock.h"
#include "bench/heap_counter.h"
#include "frame/com_ptr.h"
#include "frame/class_table.h"
#include "component/interfaces.h"
#include "frame/text.h"
#include "component/ftp.h"
#include "component/http.h"
#include "tools/asp_host/test_page.h"

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace corvane::bench {

namespace {

double time_of(const std::function<void()>& work)
{
    const double start = now_seconds();
    work();
    return now_seconds() - start;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

[[noreturn]] void fail(const char* what, HRESULT result = E_FAIL)
{
    std::fprintf(stderr, "benchmark failed: %s (0x%08lx)\n", what, static_cast<unsigned long>(result));
    std::fflush(stderr);
    std::exit(1);
}

void check(HRESULT result, const char* what)
{
    if (FAILED(result))
        fail(what, result);
}

double megabytes(double bytes)
{
    return bytes / (1024.0 * 1024.0);
}

PROCESS_MEMORY_COUNTERS_EX process_memory()
{
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                              sizeof counters))
        fail("GetProcessMemoryInfo");
    return counters;
}

Variant text_variant(std::wstring_view text)
{
    Variant value;
    set_variant_text(value.put(), text);
    return value;
}

ComPtr<_FTP> connected_ftp()
{
    ComPtr<_FTP> ftp = create_instance<FTP>().query<_FTP>();
    Variant url = text_variant(L"127.0.0.1");
    Variant user = text_variant(L"bench");
    check(ftp->put_URL(*url.get()), "put_URL");
    check(ftp->put_Username(*user.get()), "put_Username");
    check(ftp->OpenConnection(), "FTP OpenConnection");
    return ftp;
}

// ---------------------------------------------------------------- listing

struct ListingResult {
    size_t entries = 0;
    size_t repetitions = 0;
    // Seconds per entry, median over the repetitions.
    double files = 0, enumerate = 0, enumerate_late_bound = 0, by_name = 0, by_position = 0, release = 0,
           text_listing = 0;
    double heap_bytes_per_entry = 0;
    double allocations_per_entry = 0;
};

constexpr const char* listing_columns[] = {"Files",      "For Each", "For Each+.Filename", "Item(name)",
                                           "Item(pos)", "release",  "GetDirectoryListing(63)"};

std::vector<double> per_entry_figures(const ListingResult& result)
{
    return {result.files,       result.enumerate, result.enumerate_late_bound, result.by_name,
            result.by_position, result.release,   result.text_listing};
}

ListingResult measure_listing(size_t entries)
{
    BenchPlatform platform;
    platform.entries = entries;
    ComPtr<_FTP> ftp = connected_ftp();

    std::vector<Variant> names;
    std::vector<Variant> positions;
    names.reserve(entries);
    positions.reserve(entries);
    for (size_t index = 0; index < entries; ++index) {
        names.push_back(text_variant(from_ansi(BenchPlatform::record(index).cFileName)));
        Variant position;
        V_VT(position.get()) = VT_I4;
        V_I4(position.get()) = static_cast<LONG>(index + 1);
        positions.push_back(std::move(position));
    }
    OLECHAR filename_member[] = L"Filename";
    LPOLESTR member_names[] = {filename_member};
    DISPPARAMS no_arguments{nullptr, nullptr, 0, 0};

    ListingResult result;
    result.entries = entries;
    result.repetitions = std::max<size_t>(entries > 100000 ? 3 : 5, 200000 / entries);
    std::vector<double> files, enumerate, late_bound, by_name, by_position, release, text_listing;
    const double count = static_cast<double>(entries);
    for (size_t repetition = 0; repetition < result.repetitions; ++repetition) {
        ComPtr<_FTPFiles> collection;
        const size_t heap_before = heap::current();
        const size_t allocations_before = heap::allocations();
        files.push_back(time_of([&] { check(ftp->Files(collection.put()), "Files"); }) / count);
        result.heap_bytes_per_entry = static_cast<double>(heap::current() - heap_before) / count;
        result.allocations_per_entry = static_cast<double>(heap::allocations() - allocations_before) / count;
        LONG listed = 0;
        check(collection->Count(&listed), "Count");
        if (static_cast<size_t>(listed) != entries)
            fail("Count differs from the directory");

        enumerate.push_back(time_of([&] {
                                ComPtr<IUnknown> unknown;
                                check(collection->NewEnum(unknown.put()), "NewEnum");
                                ComPtr<IEnumVARIANT> items = unknown.query<IEnumVARIANT>();
                                VARIANT item;
                                ULONG fetched = 0;
                                size_t seen = 0;
                                while (items->Next(1, &item, &fetched) == S_OK) {
                                    ++seen;
                                    VariantClear(&item);
                                }
                                if (seen != entries)
                                    fail("For Each missed entries");
                            }) /
                            count);

        // What a script's "For Each f In files: f.Filename" costs.
        late_bound.push_back(time_of([&] {
                                 ComPtr<IUnknown> unknown;
                                 check(collection->NewEnum(unknown.put()), "NewEnum");
                                 ComPtr<IEnumVARIANT> items = unknown.query<IEnumVARIANT>();
                                 VARIANT item;
                                 ULONG fetched = 0;
                                 DISPID filename = DISPID_UNKNOWN;
                                 size_t characters = 0;
                                 while (items->Next(1, &item, &fetched) == S_OK) {
                                     IDispatch* entry = V_DISPATCH(&item);
                                     if (filename == DISPID_UNKNOWN)
                                         check(entry->GetIDsOfNames(IID_NULL, member_names, 1, 0, &filename),
                                               "GetIDsOfNames");
                                     Variant name;
                                     check(entry->Invoke(filename, IID_NULL, 0, DISPATCH_PROPERTYGET, &no_arguments,
                                                         name.put(), nullptr, nullptr),
                                           "Invoke Filename");
                                     characters += SysStringLen(V_BSTR(name.get()));
                                     VariantClear(&item);
                                 }
                                 if (characters == 0)
                                     fail("no names read");
                             }) /
                             count);

        by_name.push_back(time_of([&] {
                              for (const Variant& name : names) {
                                  ComPtr<_FTPFile> entry;
                                  check(collection->Item(*name.get(), entry.put()), "Item by name");
                              }
                          }) /
                          count);

        by_position.push_back(time_of([&] {
                                  for (const Variant& position : positions) {
                                      ComPtr<_FTPFile> entry;
                                      check(collection->Item(*position.get(), entry.put()), "Item by position");
                                  }
                              }) /
                              count);

        release.push_back(time_of([&] { collection.reset(); }) / count);

        text_listing.push_back(time_of([&] {
                                   BSTR text = nullptr;
                                   check(ftp->GetDirectoryListing(static_cast<Directory_Listing_Type>(63), &text),
                                         "GetDirectoryListing");
                                   if (SysStringLen(text) < entries)
                                       fail("GetDirectoryListing too short");
                                   SysFreeString(text);
                               }) /
                               count);
    }
    result.files = median(files);
    result.enumerate = median(enumerate);
    result.enumerate_late_bound = median(late_bound);
    result.by_name = median(by_name);
    result.by_position = median(by_position);
    result.release = median(release);
    result.text_listing = median(text_listing);
    return result;
}

void print_growth(const char* what, const std::vector<size_t>& sizes, const std::vector<std::vector<double>>& rows,
                  const std::vector<const char*>& columns)
{
    std::printf("\n%s, nanoseconds per entry (median of the repetitions):\n", what);
    std::printf("%10s", "entries");
    for (const char* column : columns)
        std::printf(" %*s", static_cast<int>(std::max<size_t>(10, std::strlen(column))), column);
    std::printf("\n");
    for (size_t row = 0; row < rows.size(); ++row) {
        std::printf("%10zu", sizes[row]);
        for (size_t column = 0; column < columns.size(); ++column)
            std::printf(" %*.0f", static_cast<int>(std::max<size_t>(10, std::strlen(columns[column]))),
                        rows[row][column] * 1e9);
        std::printf("\n");
    }
    // Linear time keeps the time per entry flat: these ratios stay near 1.
    for (size_t row = 1; row < rows.size(); ++row) {
        std::printf("%9s%-4zu", "x", sizes[row] / sizes[0]);
        for (size_t column = 0; column < columns.size(); ++column)
            std::printf(" %*.2f", static_cast<int>(std::max<size_t>(10, std::strlen(columns[column]))),
                        rows[row][column] / rows[0][column]);
        std::printf("   (per-entry ratio)\n");
    }
    std::fflush(stdout);
}

void run_listing(bool large)
{
    std::printf("\n== Listing: Files, For Each, Item, GetDirectoryListing(63) ==\n");
    std::vector<size_t> sizes = {1000, 10000, 100000};
    if (large)
        sizes.push_back(1000000);
    std::vector<std::vector<double>> rows;
    for (size_t entries : sizes) {
        const ListingResult result = measure_listing(entries);
        std::printf("%zu entries: %zu repetitions; Files: %.1f ms in all, %.0f heap bytes held and %.1f blocks "
                    "allocated per entry\n",
                    entries, result.repetitions, result.files * static_cast<double>(entries) * 1e3,
                    result.heap_bytes_per_entry, result.allocations_per_entry);
        std::fflush(stdout);
        rows.push_back(per_entry_figures(result));
    }
    print_growth("Listing", sizes, rows, std::vector<const char*>(std::begin(listing_columns), std::end(listing_columns)));
}

// ------------------------------------------------------------------- HTTP

// One body size, in this process; prints one row.
int http_child(size_t body_megabytes)
{
    BenchPlatform platform;
    const size_t body_size = body_megabytes << 20;

    // Type information and the first allocations, outside the figures.
    platform.body_size = 65536;
    {
        ComPtr<_HTTP> http = create_instance<HTTP>().query<_HTTP>();
        Bstr url(L"http://127.0.0.1/warm-up");
        check(http->put_URL(url.get()), "put_URL");
        check(http->OpenConnection(), "HTTP OpenConnection");
        BSTR content = nullptr;
        check(http->get_Content(&content), "Content");
        SysFreeString(content);
    }

    platform.body_size = body_size;
    constexpr int repetitions = 3;
    std::vector<double> open_times, content_times;
    size_t heap_peak = 0, heap_held = 0;
    size_t process_peak = 0, content_extra = 0;
    const double body = static_cast<double>(body_size);
    for (int repetition = 0; repetition < repetitions; ++repetition) {
        ComPtr<_HTTP> http = create_instance<HTTP>().query<_HTTP>();
        Bstr url(L"http://127.0.0.1/large");
        check(http->put_URL(url.get()), "put_URL");

        const PROCESS_MEMORY_COUNTERS_EX before = process_memory();
        const size_t heap_before = heap::current();
        heap::reset_peak();
        open_times.push_back(time_of([&] { check(http->OpenConnection(), "HTTP OpenConnection"); }));
        const PROCESS_MEMORY_COUNTERS_EX opened = process_memory();
        BSTR content = nullptr;
        content_times.push_back(time_of([&] { check(http->get_Content(&content), "Content"); }));
        const PROCESS_MEMORY_COUNTERS_EX read = process_memory();
        if (SysStringLen(content) != body_size)
            fail("Content length differs from the body");
        SysFreeString(content);

        if (repetition == 0) {
            heap_peak = heap::peak() - heap_before;
            heap_held = heap::current() - heap_before;
            process_peak = opened.PeakWorkingSetSize > before.WorkingSetSize
                               ? opened.PeakWorkingSetSize - before.WorkingSetSize
                               : 0;
            content_extra =
                read.WorkingSetSize > opened.WorkingSetSize ? read.WorkingSetSize - opened.WorkingSetSize : 0;
        }
    }
    const double open_time = median(open_times);
    const double content_time = median(content_times);
    std::printf("%5zu MB %9.1f ms %8.0f MB/s %9.1f ms %11.2fx %11.2fx %13.2fx %11.2fx\n", body_megabytes,
                open_time * 1e3, megabytes(body) / open_time, content_time * 1e3,
                static_cast<double>(heap_peak) / body, static_cast<double>(heap_held) / body,
                static_cast<double>(process_peak) / body, static_cast<double>(content_extra) / body);
    std::fflush(stdout);
    return 0;
}

bool run_child(const std::wstring& arguments)
{
    wchar_t path[MAX_PATH];
    if (!GetModuleFileNameW(nullptr, path, MAX_PATH))
        return false;
    std::wstring command_line = L"\"" + std::wstring(path) + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    for (HANDLE handle : {startup.hStdOutput, startup.hStdError})
        SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(path, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        return false;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exit_code = 1;
    GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exit_code == 0;
}

void run_http()
{
    std::printf("\n== HTTP: OpenConnection with the body in 32 KB reads, then Content once ==\n");
    std::printf("Memory in multiples of the body size. heap: bytes held through operator new (the body as\n"
                "read, its wide conversion, Content's store); process: peak working set over the working set\n"
                "before OpenConnection; Content: working set added by the string Content returns.\n");
    std::printf("%8s %12s %13s %12s %12s %12s %14s %12s\n", "body", "Open", "Open rate", "Content", "heap peak",
                "heap held", "process peak", "Content");
    std::fflush(stdout);
    for (size_t body_megabytes : {size_t{1}, size_t{16}, size_t{64}}) {
        if (!run_child(L"--http-child " + std::to_wstring(body_megabytes)))
            fail("HTTP child process");
    }
}

// ------------------------------------------------------------ browser page

double measure_page(size_t entries, size_t& body_bytes)
{
    BenchPlatform platform;
    platform.entries = entries;
    const size_t repetitions = std::max<size_t>(5, 30000 / entries);
    std::vector<double> times;
    for (size_t repetition = 0; repetition < repetitions; ++repetition) {
        ComPtr<IAspTestPage> page = asp_host::new_page();
        for (auto [key, value] : {std::pair{L"HTTPS", L"off"}, std::pair{L"SERVER_NAME", L"127.0.0.1"},
                                  std::pair{L"SERVER_PORT", L"80"}, std::pair{L"SCRIPT_NAME", L"/browse.asp"}})
            check(page->SetServerVariable(Bstr(key).get(), Bstr(value).get()), "SetServerVariable");
        ComPtr<_FTP> ftp = create_instance<FTP>().query<_FTP>();
        ComPtr<IDispatch> context = asp_host::context_of(page.get());
        Variant started;
        check(ftp->OnStartPage(context.get(), started.put()), "OnStartPage");
        Variant url = text_variant(L"127.0.0.1");
        Variant user = text_variant(L"bench");
        check(ftp->put_URL(*url.get()), "put_URL");
        check(ftp->put_Username(*user.get()), "put_Username");
        check(ftp->OpenConnection(), "FTP OpenConnection");
        times.push_back(time_of([&] { check(ftp->PrintClient(), "PrintClient"); }) / static_cast<double>(entries));
        body_bytes = asp_host::body_bytes_of(page.get()).size();
    }
    return median(times);
}

void run_page()
{
    std::printf("\n== Browser page: PrintClient into the test ASP host ==\n");
    const std::vector<size_t> sizes = {1000, 10000, 100000};
    std::vector<std::vector<double>> rows;
    for (size_t entries : sizes) {
        size_t body_bytes = 0;
        const double per_entry = measure_page(entries, body_bytes);
        std::printf("%zu entries: whole PrintClient %.1f ms, page body %.1f MB\n", entries,
                    per_entry * static_cast<double>(entries) * 1e3, megabytes(static_cast<double>(body_bytes)));
        std::fflush(stdout);
        rows.push_back({per_entry});
    }
    print_growth("Browser page", sizes, rows, {"PrintClient"});
}

}  // namespace

}  // namespace corvane::bench

int main(int argc, char** argv)
{
    using namespace corvane::bench;
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 2;
    int result = 0;
    if (argc == 3 && std::strcmp(argv[1], "--http-child") == 0) {
        result = http_child(static_cast<size_t>(std::strtoul(argv[2], nullptr, 10)));
    } else {
        auto wanted = [&](const char* group) {
            if (argc == 1)
                return true;
            for (int index = 1; index < argc; ++index) {
                if (std::strcmp(argv[index], group) == 0)
                    return true;
            }
            return false;
        };
        std::printf("corvane benchmarks, %d-bit\n", static_cast<int>(sizeof(void*) * 8));
        std::fflush(stdout);
        const bool large = argc > 1 && wanted("listing-large");
        if (wanted("listing") || large)
            run_listing(large);
        if (wanted("http"))
            run_http();
        if (wanted("page"))
            run_page();
    }
    CoUninitialize();
    return result;
}
