// A stand-in winscard.dll for the end-to-end cases only, never shipped. The Wine in Debian 12
// has a winscard.dll that never reaches the host's PC/SC daemon and kills its caller on
// SCardGetStatusChangeW, so this one carries each call the companion makes over TCP to
// pcsc_relay.py on the host (port in QTK_PCSC_RELAY_PORT), which makes the same call on
// pcsc-lite and answers with its result code and data. Wine has no Unix-domain sockets,
// hence TCP on 127.0.0.1.
//
// One connection per call; a request is one line, then one line per reader state; the
// answer likewise. Names travel as hex of their UTF-8 bytes so that spaces need no quoting.
// Lean: the full windows.h brings winscard.h, whose import declarations these replace.
#define WIN32_LEAN_AND_MEAN
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The values and the structure as winscard.h gives them; the header itself declares the
// functions as imports, which this DLL defines.
using SCARDCONTEXT = ULONG_PTR;
constexpr LONG kSuccess = 0;
constexpr LONG kInvalidParameter = static_cast<LONG>(0x80100004);
constexpr LONG kInsufficientBuffer = static_cast<LONG>(0x80100008);
constexpr LONG kCommError = static_cast<LONG>(0x80100013);
constexpr DWORD kAutoAllocate = static_cast<DWORD>(-1);

struct ReaderStateW {
    LPCWSTR szReader;
    LPVOID pvUserData;
    DWORD dwCurrentState;
    DWORD dwEventState;
    DWORD cbAtr;
    BYTE rgbAtr[36];
};

std::string Hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes) {
        text += kDigits[c >> 4];
        text += kDigits[c & 15];
    }
    return text;
}

std::string Unhex(const std::string& text) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        bytes += static_cast<char>(std::strtoul(text.substr(i, 2).c_str(), nullptr, 16));
    return bytes;
}

std::string Utf8(LPCWSTR text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes.data(), size, nullptr, nullptr);
    bytes.resize(static_cast<std::size_t>(size - 1));
    return bytes;
}

std::wstring Wide(const std::string& bytes) {
    if (bytes.empty()) return {};
    const int size = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                                         nullptr, 0);
    std::wstring text(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), size);
    return text;
}

// Request to the relay; false when it cannot be reached or answers nothing.
bool Ask(const std::string& request, std::vector<std::string>& lines) {
    char port[16];
    if (GetEnvironmentVariableA("QTK_PCSC_RELAY_PORT", port, sizeof port) == 0) return false;
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return false;
    bool ok = false;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s != INVALID_SOCKET) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<u_short>(std::atoi(port)));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            std::size_t sent = 0;
            while (sent < request.size()) {
                const int n = send(s, request.data() + sent, static_cast<int>(request.size() - sent), 0);
                if (n <= 0) break;
                sent += static_cast<std::size_t>(n);
            }
            shutdown(s, SD_SEND);
            std::string answer;
            char buffer[4096];
            int n;
            while ((n = recv(s, buffer, sizeof buffer, 0)) > 0) answer.append(buffer, static_cast<std::size_t>(n));
            lines.clear();
            std::size_t start = 0, end;
            while ((end = answer.find('\n', start)) != std::string::npos) {
                lines.push_back(answer.substr(start, end - start));
                start = end + 1;
            }
            ok = sent == request.size() && !lines.empty();
        }
        closesocket(s);
    }
    WSACleanup();
    return ok;
}

// Word INDEX of a line as a number (results, handles and states travel in decimal).
unsigned long long Word(const std::string& line, int index) {
    std::size_t start = 0;
    for (int i = 0; i < index; ++i) {
        start = line.find(' ', start);
        if (start == std::string::npos) return 0;
        ++start;
    }
    return std::strtoull(line.c_str() + start, nullptr, 10);
}

std::string Field(const std::string& line, int index) {
    std::size_t start = 0;
    for (int i = 0; i < index; ++i) {
        start = line.find(' ', start);
        if (start == std::string::npos) return {};
        ++start;
    }
    const std::size_t end = line.find(' ', start);
    return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace

extern "C" {

__declspec(dllexport) LONG WINAPI SCardEstablishContext(DWORD scope, LPCVOID, LPCVOID,
                                                         SCARDCONTEXT* context) {
    if (context == nullptr) return kInvalidParameter;
    std::vector<std::string> lines;
    if (!Ask("establish " + std::to_string(scope) + "\n", lines)) return kCommError;
    const LONG result = static_cast<LONG>(Word(lines[0], 0));
    if (result == kSuccess) *context = static_cast<SCARDCONTEXT>(Word(lines[0], 1));
    return result;
}

__declspec(dllexport) LONG WINAPI SCardReleaseContext(SCARDCONTEXT context) {
    std::vector<std::string> lines;
    if (!Ask("release " + std::to_string(context) + "\n", lines)) return kCommError;
    return static_cast<LONG>(Word(lines[0], 0));
}

__declspec(dllexport) LONG WINAPI SCardListReadersW(SCARDCONTEXT context, LPCWSTR groups,
                                                     LPWSTR readers, DWORD* length) {
    if (length == nullptr || groups != nullptr || *length == kAutoAllocate) return kInvalidParameter;
    std::vector<std::string> lines;
    if (!Ask("list " + std::to_string(context) + "\n", lines)) return kCommError;
    const LONG result = static_cast<LONG>(Word(lines[0], 0));
    if (result != kSuccess) return result;
    // One line per reader after the result; the multi-string ends with an empty name.
    std::wstring multi;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        multi += Wide(Unhex(lines[i]));
        multi += L'\0';
    }
    multi += L'\0';
    const DWORD needed = static_cast<DWORD>(multi.size());
    if (readers == nullptr) {
        *length = needed;
        return kSuccess;
    }
    if (*length < needed) {
        *length = needed;
        return kInsufficientBuffer;
    }
    std::memcpy(readers, multi.data(), multi.size() * sizeof(wchar_t));
    *length = needed;
    return kSuccess;
}

__declspec(dllexport) LONG WINAPI SCardGetStatusChangeW(SCARDCONTEXT context, DWORD timeout,
                                                         ReaderStateW* states, DWORD count) {
    if (count > 0 && states == nullptr) return kInvalidParameter;
    std::string request = "status " + std::to_string(context) + " " + std::to_string(timeout) +
                          " " + std::to_string(count) + "\n";
    for (DWORD i = 0; i < count; ++i) {
        request += std::to_string(states[i].dwCurrentState) + " " + Hex(Utf8(states[i].szReader)) + "\n";
    }
    std::vector<std::string> lines;
    if (!Ask(request, lines)) return kCommError;
    const LONG result = static_cast<LONG>(Word(lines[0], 0));
    if (result != kSuccess) return result;
    if (lines.size() != 1 + count) return kCommError;
    for (DWORD i = 0; i < count; ++i) {
        states[i].dwEventState = static_cast<DWORD>(Word(lines[1 + i], 0));
        const std::string atr = Unhex(Field(lines[1 + i], 1));
        states[i].cbAtr = static_cast<DWORD>(atr.size() < sizeof states[i].rgbAtr ? atr.size()
                                                                                  : sizeof states[i].rgbAtr);
        std::memcpy(states[i].rgbAtr, atr.data(), states[i].cbAtr);
    }
    return kSuccess;
}

}  // extern "C"
