#include "fakes.h"

#include <sys/stat.h>

#include <cerrno>
#include <fstream>
#include <random>

#include "app/layout.h"

namespace qtk::testing {

std::string Narrow(std::wstring_view text) {
    std::string out;
    for (wchar_t c : text) out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    return out;
}

std::wstring Widen(std::string_view text) {
    std::wstring out;
    for (char c : text) out += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return out;
}

// ---- labels --------------------------------------------------------------------------

class RecordingBoard::Entry : public StatusLabel {
public:
    Entry(EventLog& log, std::string name, std::wstring caption, Colour colour)
        : log_(log), name_(std::move(name)), caption_(std::move(caption)), colour_(colour) {}

    void SetForeColor(Colour colour) override {
        Refuse();
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%X", colour);
        log_.push_back("color " + name_ + " " + hex);
        colour_ = colour;
    }
    void SetCaption(std::wstring_view text) override {
        Refuse();
        log_.push_back("caption " + name_ + " " + Narrow(text));
        caption_ = text;
    }
    void SetReason(std::wstring_view text) override {
        log_.push_back("reason " + name_ + " " + Narrow(text));
        reason_ = text;
    }
    void Refuse() const {
        if (refuse_) throw Failure{*refuse_, L"Cannot write the label", Widen(name_)};
    }

    EventLog& log_;
    std::string name_;
    std::wstring caption_;
    Colour colour_;
    std::wstring reason_;
    std::optional<std::uint32_t> refuse_;
};

RecordingBoard::RecordingBoard(EventLog& log) : log_(log) {}
RecordingBoard::~RecordingBoard() = default;

StatusLabel& RecordingBoard::Label(std::string_view name) {
    auto found = labels_.find(name);
    if (found != labels_.end()) return *found->second;
    for (const Control& control : WindowLayout()) {
        if (control.kind == ControlKind::StatusLabel && control.name == name) {
            auto entry = std::make_unique<Entry>(log_, control.name, control.caption,
                                                 control.colour);
            return *labels_.emplace(control.name, std::move(entry)).first->second;
        }
    }
    throw Failure{win_error::kInvalidParameter, L"No such status label", Widen(name)};
}

std::wstring RecordingBoard::Caption(std::string_view name) {
    return static_cast<Entry&>(Label(name)).caption_;
}

Colour RecordingBoard::ForeColor(std::string_view name) {
    return static_cast<Entry&>(Label(name)).colour_;
}

std::wstring RecordingBoard::Reason(std::string_view name) {
    return static_cast<Entry&>(Label(name)).reason_;
}

void RecordingBoard::RefuseWrites(std::string_view name, std::uint32_t code) {
    static_cast<Entry&>(Label(name)).refuse_ = code;
}

// ---- files ---------------------------------------------------------------------------

namespace {

class HostFile : public InputFile {
public:
    HostFile(DirFileSystem& fs, EventLog& log, std::string name, std::FILE* file)
        : fs_(fs), log_(log), name_(std::move(name)), file_(file) {}
    ~HostFile() override { Close(); }

    std::size_t Read(unsigned char* buffer, std::size_t capacity) override {
        if (!file_) throw Failure{6, L"Read from a closed file", Widen(name_)};
        const std::size_t n = std::fread(buffer, 1, capacity, file_);
        if (n == 0 && std::ferror(file_)) throw Failure{30, L"Cannot read", Widen(name_)};
        log_.push_back("read " + name_ + " " + std::to_string(n));
        fs_.bytes_read += n;
        return n;
    }
    void Close() override {
        if (!file_) return;
        std::fclose(file_);
        file_ = nullptr;
        --fs_.open_files;
        log_.push_back("close " + name_);
    }

private:
    DirFileSystem& fs_;
    EventLog& log_;
    std::string name_;
    std::FILE* file_;
};

}  // namespace

DirFileSystem::DirFileSystem(EventLog& log) : log_(log) {
    std::random_device rd;
    root_ = std::filesystem::temp_directory_path() /
            ("qtk-test-" + std::to_string(rd()) + "-" + std::to_string(rd()));
    std::filesystem::create_directories(root_);
}

DirFileSystem::~DirFileSystem() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

void DirFileSystem::Write(const std::string& name, const std::string& bytes) {
    std::ofstream out(root_ / name, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void DirFileSystem::MakeDirectory(const std::string& name) {
    std::filesystem::create_directories(root_ / name);
}

void DirFileSystem::FailOpen(const std::string& name, std::uint32_t code) {
    open_failures_[name] = code;
}

std::filesystem::path DirFileSystem::HostPath(const std::wstring& path) const {
    const std::wstring prefix = L"C:\\tmptk\\";
    if (path.rfind(prefix, 0) != 0) return {};
    return root_ / Narrow(path.substr(prefix.size()));
}

std::unique_ptr<InputFile> DirFileSystem::OpenForReading(const std::wstring& path) {
    const std::string name = Narrow(path);
    log_.push_back("open " + name);
    const std::filesystem::path host = HostPath(path);
    const auto injected = open_failures_.find(host.filename().string());
    if (injected != open_failures_.end()) throw Failure{injected->second, L"Cannot open", path};
    if (host.empty()) throw Failure{win_error::kPathNotFound, L"Cannot open", path};
    struct stat info {};
    if (::stat(host.c_str(), &info) != 0) {
        throw Failure{win_error::kFileNotFound, L"Cannot open", path};
    }
    // Windows refuses to open a directory as a file; fopen on Linux would not.
    if (S_ISDIR(info.st_mode)) throw Failure{win_error::kAccessDenied, L"Cannot open", path};
    std::FILE* file = std::fopen(host.c_str(), "rb");
    if (!file) throw Failure{win_error::kAccessDenied, L"Cannot open", path};
    ++open_files;
    if (open_files > max_open_files) max_open_files = open_files;
    return std::make_unique<HostFile>(*this, log_, name, file);
}

// ---- text ----------------------------------------------------------------------------

std::wstring Latin1Codec::FromAnsi(std::string_view bytes) {
    std::wstring out;
    out.reserve(bytes.size());
    for (char c : bytes) out += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return out;
}

std::string Latin1Codec::ToAnsi(std::wstring_view text) {
    std::string out;
    for (wchar_t c : text) out += c < 0x100 ? static_cast<char>(c) : '?';
    return out;
}

// ---- message boxes and launches ------------------------------------------------------

void RecordingMessages::ShowMessage(std::wstring_view text) {
    log_.push_back("message " + Narrow(text));
    shown.emplace_back(text);
}

std::uint32_t RecordingLauncher::Launch(const std::wstring& command_line, int show_state) {
    log_.push_back("launch " + Narrow(command_line) + " show=" + std::to_string(show_state));
    if (fail_with) throw Failure{*fail_with, L"Cannot start the clean-up script", command_line};
    return 4242;
}

// ---- registry ------------------------------------------------------------------------

void FakeRegistry::SetValue(const std::string& key, const std::string& name, std::string bytes,
                            std::uint32_t type) {
    keys_[key][name] = Value{std::move(bytes), type};
}

void FakeRegistry::DenyKey(const std::string& key, long code) { denied_[key] = code; }

long FakeRegistry::OpenKeyA(RegistryKey root, const std::string& path, std::uint32_t options,
                            std::uint32_t access, RegistryKey* key) {
    char detail[64];
    std::snprintf(detail, sizeof detail, " root=0x%llX options=%u access=%u",
                  static_cast<unsigned long long>(root), options, access);
    log_.push_back("RegOpenKeyExA " + path + detail);
    if (auto d = denied_.find(path); d != denied_.end()) return d->second;
    if (keys_.find(path) == keys_.end()) return win_error::kFileNotFound;
    *key = next_handle_++;
    handles_[*key] = path;
    ++open_keys;
    return 0;
}

long FakeRegistry::QueryValueA(RegistryKey key, const std::string& value_name,
                               std::uint32_t* type, unsigned char* data, std::uint32_t* size) {
    log_.push_back("RegQueryValueExA " + value_name + (data ? " data " : " size ") +
                   std::to_string(size ? *size : 0));
    if (data && between_queries) between_queries();
    const auto handle = handles_.find(key);
    if (handle == handles_.end()) return 6;  // ERROR_INVALID_HANDLE
    const auto& values = keys_[handle->second];
    const auto value = values.find(value_name);
    if (value == values.end()) return win_error::kFileNotFound;
    if (type) *type = value->second.type;
    const std::uint32_t length = static_cast<std::uint32_t>(value->second.bytes.size());
    if (!data) {
        *size = length;
        return 0;
    }
    if (*size < length) {
        *size = length;
        return win_error::kMoreData;
    }
    std::copy(value->second.bytes.begin(), value->second.bytes.end(), data);
    *size = length + overstate_data_size;
    return 0;
}

long FakeRegistry::CloseKey(RegistryKey key) {
    log_.push_back("RegCloseKey");
    if (handles_.erase(key)) --open_keys;
    return close_result;
}

}  // namespace qtk::testing
