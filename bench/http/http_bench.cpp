// Download throughput of FCHttpRequest (threads, notify messages, locked
// buffer) against a plain WinInet read loop with the same 8192-byte reads,
// both keeping the body in memory, from the loopback fixture server.
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "http_request_manager.h"

namespace {

int Port() {
    wchar_t value[32] = {};
    return GetEnvironmentVariableW(L"QR_HTTP_PORT", value, 32) ? _wtoi(value) : 0;
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

class BenchManager : public FCHttpRequestManager {
public:
    bool done = false;
    std::string body;
    int status = 0;
    int dataCallbacks = 0;

protected:
    void OnDataReceived(FCHttpRequest&, int) override { ++dataCallbacks; }
    void OnRequestFinished(FCHttpRequest& request) override {
        status = request.GetStatusCode();
        request.TakeBody(body);
        done = true;
        // Callbacks run inside GetMessageW, which returns only for a posted message.
        PostQuitMessage(0);
    }
};

int lastDataCallbacks = 0;

// Seconds for one download through the manager; 0 on a wrong result.
double ThroughManager(const std::wstring& url, size_t size) {
    BenchManager manager;
    HttpRequestRecord record;
    record.url = url;
    record.extraHeaders = L"Accept: */*\r\n";
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    manager.AddRequest(record);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    QueryPerformanceCounter(&end);
    lastDataCallbacks = manager.dataCallbacks;
    return manager.status == 200 && manager.body.size() == size ? Seconds(start, end) : 0;
}

double PlainLoop(int port, const std::wstring& path, size_t size) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    HINTERNET internet = InternetOpenW(L"bench", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    HINTERNET connection = InternetConnectW(internet, L"127.0.0.1", static_cast<INTERNET_PORT>(port), nullptr,
                                            nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    HINTERNET request = HttpOpenRequestW(connection, L"GET", path.c_str(), nullptr, nullptr, nullptr,
                                         HTTP_DEFAULT_OPEN_FLAGS, 0);
    const wchar_t headers[] = L"Accept: */*\r\n";
    HttpSendRequestW(request, headers, static_cast<DWORD>(wcslen(headers)), nullptr, 0);
    std::string body;
    char chunk[8192];
    DWORD count = 0;
    while (InternetReadFile(request, chunk, sizeof(chunk), &count) && count != 0) body.append(chunk, count);
    InternetCloseHandle(request);
    InternetCloseHandle(connection);
    InternetCloseHandle(internet);
    QueryPerformanceCounter(&end);
    return body.size() == size ? Seconds(start, end) : 0;
}

// Process CPU time (user and kernel) in seconds.
double CpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto value = [](FILETIME t) {
        return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(value(kernel) + value(user)) / 1e7;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int port = Port();
    if (!port) {
        std::fprintf(stderr, "QR_HTTP_PORT is not set: run through tests/fixtures/with-server.sh\n");
        return 2;
    }
    int megabytes = argc > 1 ? _wtoi(argv[1]) : 100;
    int runs = argc > 2 ? _wtoi(argv[2]) : 3;
    if (megabytes <= 0 || runs <= 0) {
        std::fprintf(stderr, "usage: http_bench [megabytes] [runs]\n");
        return 2;
    }
    size_t size = static_cast<size_t>(megabytes) * 1000000;
    std::wstring path = L"/bytes/" + std::to_wstring(size);
    std::wstring url = L"http://127.0.0.1:" + std::to_wstring(port) + path;
    double mb = static_cast<double>(size) / 1e6;

    std::vector<double> ours, plain, oursCpu, plainCpu;
    for (int run = 0; run < runs; ++run) {
        // Alternate the order so that neither side always runs on a warm server.
        for (int side = 0; side < 2; ++side) {
            bool managerSide = (side == 0) == (run % 2 == 0);
            double cpuBefore = CpuSeconds();
            double seconds = managerSide ? ThroughManager(url, size) : PlainLoop(port, path, size);
            double cpu = CpuSeconds() - cpuBefore;
            if (seconds <= 0) {
                std::fprintf(stderr, "run %d: the %s download came back wrong\n", run + 1,
                             managerSide ? "FCHttpRequest" : "plain loop");
                return 1;
            }
            (managerSide ? ours : plain).push_back(seconds);
            (managerSide ? oursCpu : plainCpu).push_back(cpu);
            std::printf("run %d %-14s %8.1f MB/s (%.2f s, process CPU %.2f s)", run + 1,
                        managerSide ? "FCHttpRequest" : "plain WinInet", mb / seconds, seconds, cpu);
            if (managerSide)
                std::printf(", %d data callbacks for %zu reads", lastDataCallbacks, (size + 8191) / 8192);
            std::printf("\n");
        }
    }
    double oursRate = mb / Median(ours), plainRate = mb / Median(plain);
    std::printf("median over %d runs, %d MB, 8192-byte reads:\n", runs, megabytes);
    std::printf("  FCHttpRequest  %8.1f MB/s\n  plain WinInet  %8.1f MB/s\n  ratio          %8.3f\n",
                oursRate, plainRate, oursRate / plainRate);
    std::printf("  process CPU    %8.2f s FCHttpRequest, %.2f s plain (medians)\n", Median(oursCpu),
                Median(plainCpu));
    return 0;
}
