// The narrow seam between the diagnostic's logic and the operating system.
//
// Everything the program asks of Windows passes through these interfaces, shaped after
// what it really needs: three ANSI registry calls, an OK-only message box, a process
// launch with a show state, a fixed path opened for sequential reading, and a label's two
// writable properties. platform/win32 implements them for real; the unit tests put
// recording fakes behind them. This header never includes <windows.h>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/access_list.h"
#include "platform/failure.h"

namespace qtk {

// Colours as the window stores them: 0x00BBGGRR, or a system colour index with the top
// bit set (0x8000000D is the highlight colour).
using Colour = std::uint32_t;
inline constexpr Colour kSystemColourFlag = 0x80000000u;
inline constexpr Colour kButtonTextColour = 0x80000012u;  // COLOR_BTNTEXT
inline constexpr Colour kHighlightColour = 0x8000000Du;   // COLOR_HIGHLIGHT

// A label of the window whose caption and colour a check may write. Both writes take
// effect at once and independently; a write the window system refuses throws Failure.
class StatusLabel {
public:
    virtual ~StatusLabel() = default;
    virtual void SetForeColor(Colour colour) = 0;
    virtual void SetCaption(std::wstring_view text) = 0;
    // What the marker says beyond its first field, shown on hover and copied with the
    // results; never painted. Called at most once, and only with non-empty text.
    virtual void SetReason(std::wstring_view text) = 0;
};

// Finds a label by its layout name. Asking for a name the layout does not have is a
// programming error and throws Failure (kInvalidParameter) naming it.
class LabelBoard {
public:
    virtual ~LabelBoard() = default;
    virtual StatusLabel& Label(std::string_view name) = 0;
};

// A file opened for sequential, read-only reading. Read returns the number of bytes
// placed in the buffer, 0 at the end of the file; a read error throws Failure.
class InputFile {
public:
    static constexpr std::uint64_t kSizeUnknown = ~std::uint64_t{0};

    virtual ~InputFile() = default;
    virtual std::size_t Read(unsigned char* buffer, std::size_t capacity) = 0;
    // The file's size when it was opened. Readers never read past it, so a file that
    // keeps growing while it is read still ends. Only a stand-in for a file (a test's)
    // may leave it unknown; the real file system always knows it.
    virtual std::uint64_t SizeAtOpen() const { return kSizeUnknown; }
    // Closes the file now; the destructor closes it too if this was not called.
    virtual void Close() = 0;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // Opens path for reading, or throws Failure with the system's error number. Only a
    // disk file opens: a pipe or a device at the path (which may never end, or never
    // answer) is refused with a Failure as if it could not be opened.
    virtual std::unique_ptr<InputFile> OpenForReading(const std::wstring& path) = 0;
};

// The ANSI registry functions of advapi32, as the reader uses them. Keys are opaque
// handles; return values are Windows error numbers (0 for success).
using RegistryKey = std::uintptr_t;
inline constexpr RegistryKey kLocalMachine = 0x80000002u;
inline constexpr std::uint32_t kKeyQueryValue = 0x0001u;

class Registry {
public:
    virtual ~Registry() = default;
    virtual long OpenKeyA(RegistryKey root, const std::string& path, std::uint32_t options,
                          std::uint32_t access, RegistryKey* key) = 0;
    // data may be null (a size query). size is in/out, as for RegQueryValueExA.
    virtual long QueryValueA(RegistryKey key, const std::string& value_name,
                             std::uint32_t* type, unsigned char* data,
                             std::uint32_t* size) = 0;
    virtual long CloseKey(RegistryKey key) = 0;
};

// Text conversions that depend on the system: the ANSI code page and the UTF-16 that
// the window speaks. The core never guesses the code page itself.
class TextCodec {
public:
    virtual ~TextCodec() = default;
    virtual std::wstring FromAnsi(std::string_view bytes) = 0;
    virtual std::string ToAnsi(std::wstring_view text) = 0;
    // True for the first byte of a two-byte character in a double-byte code page, so a
    // reader that converts in chunks never splits a character between two chunks.
    virtual bool IsLeadByte(unsigned char /*byte*/) { return false; }
};

// Modal, OK-only message box, captioned with the application title, no icon.
class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual void ShowMessage(std::wstring_view text) = 0;
};

// Starts a process from a command line with a show state and does not wait for it.
// Returns the new process id; throws Failure when the launch fails.
class ProcessLauncher {
public:
    virtual ~ProcessLauncher() = default;
    virtual std::uint32_t Launch(const std::wstring& command_line, int show_state) = 0;
};

inline constexpr int kShowMinimized = 2;  // SW_SHOWMINIMIZED

// What decides whether a program found on disk may be started: whether this process runs
// elevated, and who may change a file or directory.
class LaunchGuard {
public:
    virtual ~LaunchGuard() = default;
    // True when elevated, and when that cannot be told.
    virtual bool RunsElevated() = 0;
    // The owner and access list of path itself (a link is not followed, only reported);
    // throws Failure when they cannot be read, e.g. the path does not exist.
    virtual SecurityFacts SecurityOf(const std::wstring& path) = 0;
};

// Everything the window's logic needs from the outside, gathered for one run.
struct Platform {
    FileSystem& files;
    Registry& registry;
    TextCodec& text;
    MessageBoxes& messages;
    ProcessLauncher& launcher;
    // Consulted before the clean-up script is started; without one it is started as is.
    LaunchGuard* launch_guard = nullptr;
};

}  // namespace qtk
