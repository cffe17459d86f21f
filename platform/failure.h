// The one failure type of both programs and the Windows error numbers the portable code
// raises itself.
#pragma once

#include <cstdint>
#include <string>

namespace qtk {

// Windows error numbers the portable core raises itself. They are the system's own
// numbers so that the error report can ask the system for their description.
namespace win_error {
inline constexpr std::uint32_t kSuccess = 0;
inline constexpr std::uint32_t kFileNotFound = 2;
inline constexpr std::uint32_t kPathNotFound = 3;
inline constexpr std::uint32_t kAccessDenied = 5;
inline constexpr std::uint32_t kSharingViolation = 32;
inline constexpr std::uint32_t kHandleEof = 38;  // "Reached the end of the file."
inline constexpr std::uint32_t kInvalidHandle = 6;
inline constexpr std::uint32_t kInvalidData = 13;
inline constexpr std::uint32_t kInvalidParameter = 87;
inline constexpr std::uint32_t kMoreData = 234;
inline constexpr std::uint32_t kNoToken = 1008;  // ERROR_NO_TOKEN
inline constexpr std::uint32_t kKeyDeleted = 1018;
inline constexpr std::uint32_t kServiceDoesNotExist = 1060;
inline constexpr std::uint32_t kNoSuchLogonSession = 1312;
inline constexpr std::uint32_t kUnsupportedType = 1630;
}  // namespace win_error

// The one failure type of the program. It carries what a support person needs to act:
// the Windows error number, what the program was doing, and the file, key or command
// concerned. The system's description of the number is looked up when the report is
// shown, so the core never needs the platform to build one.
struct Failure {
    std::uint32_t code = 0;
    std::wstring action;   // e.g. L"Cannot open the marker file"
    std::wstring subject;  // e.g. L"C:\\tmptk\\www_tesk.txt"
};

}  // namespace qtk
