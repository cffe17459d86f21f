// Recording fakes of the platform seam. Every call lands in one shared event log, in
// order, so a test can say exactly what happened: which file was opened and closed when,
// that a label got its colour before its text, that nothing after a failure ran.
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/seam.h"

namespace qtk::testing {

// Plain ASCII rendering of wide text for log lines and assertions.
std::string Narrow(std::wstring_view text);
std::wstring Widen(std::string_view text);

using EventLog = std::vector<std::string>;

// Labels that the layout declares as status labels; any other name throws, as the window
// does for a name it does not have.
class RecordingBoard : public LabelBoard {
public:
    // Both defined where Entry is complete: a test that only holds a board cannot
    // instantiate the map's destruction.
    explicit RecordingBoard(EventLog& log);
    ~RecordingBoard() override;
    StatusLabel& Label(std::string_view name) override;

    // The caption and colour a label holds now (initial values from the layout).
    std::wstring Caption(std::string_view name);
    Colour ForeColor(std::string_view name);
    std::wstring Reason(std::string_view name);  // empty until SetReason
    // Makes every write to this label fail with code, as a refusing window would.
    void RefuseWrites(std::string_view name, std::uint32_t code);

private:
    class Entry;
    EventLog& log_;
    std::map<std::string, std::unique_ptr<Entry>, std::less<>> labels_;
};

// Serves C:\tmptk\NAME from real files in a private temporary directory. Logs
// "open PATH", "close PATH" and "read PATH N".
class DirFileSystem : public FileSystem {
public:
    explicit DirFileSystem(EventLog& log);
    ~DirFileSystem() override;

    const std::filesystem::path& Root() const { return root_; }
    // Writes bytes to the file that C:\tmptk\NAME names.
    void Write(const std::string& name, const std::string& bytes);
    void MakeDirectory(const std::string& name);
    // The next opens of this marker fail with the given Windows error (e.g. 32, locked).
    void FailOpen(const std::string& name, std::uint32_t code);

    std::unique_ptr<InputFile> OpenForReading(const std::wstring& path) override;

    int open_files = 0;       // files open right now
    int max_open_files = 0;   // most ever open at once
    std::uint64_t bytes_read = 0;

private:
    std::filesystem::path HostPath(const std::wstring& path) const;
    EventLog& log_;
    std::filesystem::path root_;
    std::map<std::string, std::uint32_t> open_failures_;
};

// The single-byte code page as Latin-1: byte n is character n.
class Latin1Codec : public TextCodec {
public:
    std::wstring FromAnsi(std::string_view bytes) override;
    std::string ToAnsi(std::wstring_view text) override;
};

class RecordingMessages : public MessageBoxes {
public:
    explicit RecordingMessages(EventLog& log) : log_(log) {}
    void ShowMessage(std::wstring_view text) override;
    std::vector<std::wstring> shown;

private:
    EventLog& log_;
};

class RecordingLauncher : public ProcessLauncher {
public:
    explicit RecordingLauncher(EventLog& log) : log_(log) {}
    std::uint32_t Launch(const std::wstring& command_line, int show_state) override;
    std::optional<std::uint32_t> fail_with;  // set to make the launch fail

private:
    EventLog& log_;
};

// A registry of keys and raw values in memory, with injectable failures. Logs every
// call: "RegOpenKeyExA PATH", "RegQueryValueExA NAME size|data N", "RegCloseKey".
class FakeRegistry : public Registry {
public:
    explicit FakeRegistry(EventLog& log) : log_(log) {}

    void SetValue(const std::string& key, const std::string& name, std::string bytes,
                  std::uint32_t type = 1 /* REG_SZ */);
    void DenyKey(const std::string& key, long code = 5);
    long close_result = 0;
    // Called between the size query and the data query (a value that grows meanwhile).
    std::function<void()> between_queries;
    // Added to the byte count a successful data query reports, as a misbehaving driver
    // might: the reader must never trust it beyond its own buffer.
    std::uint32_t overstate_data_size = 0;

    long OpenKeyA(RegistryKey root, const std::string& path, std::uint32_t options,
                  std::uint32_t access, RegistryKey* key) override;
    long QueryValueA(RegistryKey key, const std::string& value_name, std::uint32_t* type,
                     unsigned char* data, std::uint32_t* size) override;
    long CloseKey(RegistryKey key) override;

    int open_keys = 0;

private:
    struct Value {
        std::string bytes;
        std::uint32_t type;
    };
    EventLog& log_;
    std::map<std::string, std::map<std::string, Value>> keys_;
    std::map<std::string, long> denied_;
    std::map<RegistryKey, std::string> handles_;
    RegistryKey next_handle_ = 0x1000;
};

// Everything together, as one run of the program sees it.
struct FakePlatform {
    EventLog log;
    DirFileSystem files{log};
    FakeRegistry registry{log};
    Latin1Codec text;
    RecordingMessages messages{log};
    RecordingLauncher launcher{log};
    RecordingBoard board{log};
    Platform platform{files, registry, text, messages, launcher};
};

}  // namespace qtk::testing
