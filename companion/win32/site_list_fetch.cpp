#include "companion/win32/site_list_fetch.h"

#include <windows.h>
#include <winhttp.h>

#include <vector>

#include "platform/win32/system_library.h"
#include "platform/win32/win32_platform.h"

namespace qtk::companion::win32 {

using qtk::win32::ErrorText;
using qtk::win32::SystemLibrary;
namespace {

// WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, which the MinGW headers of an older SDK lack.
constexpr DWORD kAutomaticProxy = 4;

FetchedList Failed(std::wstring error) { return FetchedList{false, {}, std::move(error)}; }

FetchedList ReadFileBytes(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return Failed(L"cannot open it, " + ErrorText(GetLastError()));
    FetchedList result;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) {
        result = Failed(L"cannot read its size, " + ErrorText(GetLastError()));
    } else if (static_cast<unsigned long long>(size.QuadPart) > Win32SiteListFetcher::kMaxBytes) {
        result = Failed(L"it holds " + std::to_wstring(size.QuadPart) +
                        L" bytes, far more than any site list");
    } else {
        result.ok = true;
        result.bytes.resize(static_cast<std::size_t>(size.QuadPart));
        std::size_t done = 0;
        while (done < result.bytes.size()) {
            DWORD read = 0;
            const DWORD want = static_cast<DWORD>(
                std::min<std::size_t>(result.bytes.size() - done, 1u << 20));
            if (!ReadFile(file, result.bytes.data() + done, want, &read, nullptr)) {
                result = Failed(L"cannot read it, " + ErrorText(GetLastError()));
                break;
            }
            if (read == 0) {
                result.bytes.resize(done);  // it shrank while being read
                break;
            }
            done += read;
        }
    }
    CloseHandle(file);
    return result;
}

// The WinHTTP calls used, found in the DLL loaded from System32.
struct WinHttp {
    SystemLibrary dll{L"winhttp.dll"};
    decltype(&WinHttpOpen) open = dll.Find<decltype(&WinHttpOpen)>("WinHttpOpen");
    decltype(&WinHttpSetTimeouts) set_timeouts =
        dll.Find<decltype(&WinHttpSetTimeouts)>("WinHttpSetTimeouts");
    decltype(&WinHttpCrackUrl) crack_url = dll.Find<decltype(&WinHttpCrackUrl)>("WinHttpCrackUrl");
    decltype(&WinHttpConnect) connect = dll.Find<decltype(&WinHttpConnect)>("WinHttpConnect");
    decltype(&WinHttpOpenRequest) open_request =
        dll.Find<decltype(&WinHttpOpenRequest)>("WinHttpOpenRequest");
    decltype(&WinHttpSendRequest) send_request =
        dll.Find<decltype(&WinHttpSendRequest)>("WinHttpSendRequest");
    decltype(&WinHttpReceiveResponse) receive_response =
        dll.Find<decltype(&WinHttpReceiveResponse)>("WinHttpReceiveResponse");
    decltype(&WinHttpQueryHeaders) query_headers =
        dll.Find<decltype(&WinHttpQueryHeaders)>("WinHttpQueryHeaders");
    decltype(&WinHttpReadData) read_data = dll.Find<decltype(&WinHttpReadData)>("WinHttpReadData");
    decltype(&WinHttpCloseHandle) close = dll.Find<decltype(&WinHttpCloseHandle)>("WinHttpCloseHandle");

    bool Complete() const {
        return open && set_timeouts && crack_url && connect && open_request && send_request &&
               receive_response && query_headers && read_data && close;
    }
};

class Handle {
public:
    Handle(const WinHttp& api, HINTERNET handle) : api_(api), handle_(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (handle_ != nullptr) api_.close(handle_);
    }
    HINTERNET get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    const WinHttp& api_;
    HINTERNET handle_;
};

FetchedList Download(const std::wstring& url, int timeout_ms) {
    const WinHttp api;
    if (!api.Complete()) {
        return Failed(L"WinHTTP is not available on this system (" +
                      (api.dll.Module() == nullptr ? ErrorText(api.dll.LoadError())
                                                   : std::wstring(L"a function is missing")) +
                      L")");
    }
    const auto error = [&](const wchar_t* step) {
        return Failed(std::wstring(step) + L", " + ErrorText(GetLastError(), api.dll.Module()));
    };
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!api.crack_url(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
        return error(L"the address cannot be read");
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring object(parts.lpszUrlPath, parts.dwUrlPathLength);
    object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (object.empty()) object = L"/";

    // The proxy the user's browser would use, where the system can say (Windows 8.1 and
    // later); before that, the machine's WinHTTP proxy.
    HINTERNET opened = api.open(L"tkexamine", kAutomaticProxy, WINHTTP_NO_PROXY_NAME,
                                WINHTTP_NO_PROXY_BYPASS, 0);
    if (opened == nullptr) {
        opened = api.open(L"tkexamine", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                          WINHTTP_NO_PROXY_BYPASS, 0);
    }
    const Handle session(api, opened);
    if (!session) return error(L"WinHTTP cannot start");
    api.set_timeouts(session.get(), timeout_ms, timeout_ms, timeout_ms, timeout_ms);
    const Handle connection(api, api.connect(session.get(), host.c_str(), parts.nPort, 0));
    if (!connection) return error(L"cannot reach the server");
    const DWORD flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
    const Handle request(api, api.open_request(connection.get(), L"GET", object.c_str(), nullptr,
                                               WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                               flags));
    if (!request) return error(L"cannot make the request");
    if (!api.send_request(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                          0, 0, 0) ||
        !api.receive_response(request.get(), nullptr)) {
        return error(L"the server did not answer");
    }
    DWORD status = 0;
    DWORD status_size = sizeof status;
    if (!api.query_headers(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &status_size,
                           WINHTTP_NO_HEADER_INDEX)) {
        return error(L"the answer has no status");
    }
    if (status != 200) return Failed(L"the server answered with HTTP status " + std::to_wstring(status));
    FetchedList result{true, {}, {}};
    std::vector<char> chunk(64 * 1024);
    for (;;) {
        DWORD read = 0;
        if (!api.read_data(request.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &read)) {
            return error(L"the answer broke off");
        }
        if (read == 0) break;
        if (result.bytes.size() + read > Win32SiteListFetcher::kMaxBytes) {
            return Failed(L"the answer runs past " +
                          std::to_wstring(Win32SiteListFetcher::kMaxBytes) +
                          L" bytes, far more than any site list");
        }
        result.bytes.append(chunk.data(), read);
    }
    return result;
}

}  // namespace

FetchedList Win32SiteListFetcher::Fetch(const SiteListLocation& location) {
    switch (location.source) {
        case SiteListSource::LocalFile:
        case SiteListSource::NetworkFile: return ReadFileBytes(location.target);
        case SiteListSource::Http:
        case SiteListSource::Https: return Download(location.target, timeout_ms_);
    }
    return Failed(L"unknown location");
}

}  // namespace qtk::companion::win32
