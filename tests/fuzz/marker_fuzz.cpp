// Differential fuzzing of the streaming readers against plain whole-buffer models.
//
// Input: byte 0 picks the ANSI code page model (low two bits) and a shape for the file
// (the rest): mostly the remaining bytes as they are; often those bytes behind a few
// hundred filler characters, which puts them past the field's kept head where the scan
// takes its fast path; rarely the bytes repeated into a file of some KiB, past the first
// chunk and the line limit. Byte 1 seeds the sizes that reads come back with (short reads
// split BOMs, UTF-8 sequences, UTF-16 units and DBCS characters at every possible place).
// The models decode everything at once and search with std::wstring::find, so any
// disagreement is the streaming code's fault.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "checks/marker.h"
#include "identity/os_line.h"
#include "platform/seam.h"

namespace {

using namespace qtk;

[[noreturn]] void Mismatch(const char* what) {
    std::fprintf(stderr, "mismatch: %s\n", what);
    std::abort();
}

#define CHECK(condition) \
    do {                 \
        if (!(condition)) Mismatch(#condition); \
    } while (0)

// ---- the file ------------------------------------------------------------------------

struct FileState {
    bool closed = false;
    bool eof_seen = false;
};

class MemoryFile : public InputFile {
public:
    MemoryFile(std::string_view bytes, std::uint32_t seed, FileState& state)
        : bytes_(bytes), rng_(seed * 2654435761u + 1), seed_(seed), state_(state) {}

    std::size_t Read(unsigned char* buffer, std::size_t capacity) override {
        CHECK(!state_.closed);
        CHECK(!state_.eof_seen);  // nobody asks again once the end was reported
        CHECK(capacity > 0);
        std::size_t count = capacity;
        if (seed_ != 0) {
            rng_ ^= rng_ << 13;
            rng_ ^= rng_ >> 17;
            rng_ ^= rng_ << 5;
            // Mostly a few hundred bytes, often a handful: every split is reached, and a
            // stretched file still takes few enough reads to keep the run quick.
            const std::uint32_t kind = rng_ % 4;
            if (kind == 1) count = 1 + (rng_ >> 2) % 7;
            if (kind >= 2) count = 1 + (rng_ >> 2) % 600;
        }
        count = std::min({count, capacity, bytes_.size() - at_});
        for (std::size_t i = 0; i < count; ++i) buffer[i] = static_cast<unsigned char>(bytes_[at_ + i]);
        at_ += count;
        if (count == 0) state_.eof_seen = true;
        return count;
    }
    // The destructor deliberately does not close: a reader that relied on it would be
    // caught still holding the file when it returns.
    void Close() override { state_.closed = true; }

private:
    std::string_view bytes_;
    std::size_t at_ = 0;
    std::uint32_t rng_;
    std::uint32_t seed_;
    FileState& state_;
};

class MemoryFileSystem : public FileSystem {
public:
    MemoryFileSystem(std::string_view bytes, std::uint32_t seed) : bytes_(bytes), seed_(seed) {}
    std::unique_ptr<InputFile> OpenForReading(const std::wstring&) override {
        CHECK(opens_ == 0);
        ++opens_;
        state = FileState{};
        return std::make_unique<MemoryFile>(bytes_, seed_, state);
    }
    void Reset() { opens_ = 0; }
    FileState state;

private:
    std::string_view bytes_;
    std::uint32_t seed_;
    int opens_ = 0;
};

// ---- code pages ----------------------------------------------------------------------

class Latin1 : public TextCodec {
public:
    std::wstring FromAnsi(std::string_view bytes) override {
        std::wstring out;
        for (char c : bytes) out += static_cast<wchar_t>(static_cast<unsigned char>(c));
        return out;
    }
    std::string ToAnsi(std::wstring_view) override { return {}; }
};

// 0x81..0x9F open a two-byte character; the trail may be any byte, even ',' or 'o'.
class DoubleByte : public Latin1 {
public:
    std::wstring FromAnsi(std::string_view bytes) override {
        std::wstring out;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            const auto b = static_cast<unsigned char>(bytes[i]);
            if (!IsLeadByte(b)) {
                out += static_cast<wchar_t>(b);
            } else if (i + 1 == bytes.size()) {
                out += L'\uFFFD';
            } else {
                out += static_cast<wchar_t>(0x4E00 + ((b - 0x81) << 8) +
                                            static_cast<unsigned char>(bytes[++i]));
            }
        }
        return out;
    }
    bool IsLeadByte(unsigned char b) override { return b >= 0x81 && b <= 0x9F; }
};

// Hands back whole code points beyond the BMP, as a 32-bit wchar_t can carry them.
class Astral : public Latin1 {
public:
    std::wstring FromAnsi(std::string_view bytes) override {
        std::wstring out;
        for (char c : bytes) {
            const auto b = static_cast<unsigned char>(c);
            out += b >= 0xF0 ? static_cast<wchar_t>(0x1F600 + b) : static_cast<wchar_t>(b);
        }
        return out;
    }
};

// ---- the plain models ----------------------------------------------------------------

void PushCodePoint(std::wstring& out, std::uint32_t cp) {
    if (cp <= 0xFFFF) {
        out += static_cast<wchar_t>(cp);
    } else if (cp <= 0x10FFFF) {
        out += static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
        out += static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
        out += L'\uFFFD';
    }
}

// Well-formed sequences by the table of first bytes and second-byte ranges; a maximal
// ill-formed prefix becomes one U+FFFD.
std::wstring ModelUtf8(std::string_view s) {
    std::wstring out;
    std::size_t i = 0;
    auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    while (i < s.size()) {
        const unsigned b0 = at(i);
        std::size_t length = 0;
        unsigned lo = 0x80, hi = 0xBF;
        if (b0 < 0x80) {
            out += static_cast<wchar_t>(b0);
            ++i;
            continue;
        }
        if (b0 >= 0xC2 && b0 <= 0xDF) length = 2;
        else if (b0 == 0xE0) length = 3, lo = 0xA0;
        else if (b0 >= 0xE1 && b0 <= 0xEC) length = 3;
        else if (b0 == 0xED) length = 3, hi = 0x9F;
        else if (b0 >= 0xEE && b0 <= 0xEF) length = 3;
        else if (b0 == 0xF0) length = 4, lo = 0x90;
        else if (b0 >= 0xF1 && b0 <= 0xF3) length = 4;
        else if (b0 == 0xF4) length = 4, hi = 0x8F;
        if (length == 0 || i + 1 >= s.size() || at(i + 1) < lo || at(i + 1) > hi) {
            out += L'\uFFFD';
            ++i;
            continue;
        }
        std::size_t good = 2;
        while (good < length && i + good < s.size() && at(i + good) >= 0x80 &&
               at(i + good) <= 0xBF) {
            ++good;
        }
        if (good < length) {
            out += L'\uFFFD';
            i += good;
            continue;
        }
        std::uint32_t cp = b0 & (length == 2 ? 0x1Fu : length == 3 ? 0x0Fu : 0x07u);
        for (std::size_t k = 1; k < length; ++k) cp = (cp << 6) | (at(i + k) & 0x3Fu);
        PushCodePoint(out, cp);
        i += length;
    }
    return out;
}

std::wstring ModelDecode(std::string_view s, TextCodec& codec) {
    std::wstring out;
    if (s.substr(0, 3) == "\xEF\xBB\xBF") return ModelUtf8(s.substr(3));
    const bool le = s.substr(0, 2) == "\xFF\xFE";
    const bool be = s.substr(0, 2) == "\xFE\xFF";
    if (le || be) {
        std::size_t i = 2;
        for (; i + 1 < s.size(); i += 2) {
            const auto a = static_cast<unsigned char>(s[i]);
            const auto b = static_cast<unsigned char>(s[i + 1]);
            out += static_cast<wchar_t>(le ? (b << 8) | a : (a << 8) | b);
        }
        if (i < s.size()) out += L'\uFFFD';
        return out;
    }
    for (wchar_t w : codec.FromAnsi(s)) PushCodePoint(out, static_cast<std::uint32_t>(w));
    return out;
}

std::wstring ModelField(const std::wstring& text) {
    std::size_t i = text.find_first_not_of(L" \t");
    if (i == std::wstring::npos) return {};
    if (text[i] == L'"') {
        const std::size_t end = text.find(L'"', i + 1);
        return text.substr(i + 1, end == std::wstring::npos ? std::wstring::npos : end - i - 1);
    }
    const std::size_t end = text.find_first_of(L",\r\n", i);
    return text.substr(i, end == std::wstring::npos ? std::wstring::npos : end - i);
}

// The rest of the first line after the field, cut and made safe as the reader does.
std::wstring ModelReason(const std::wstring& text) {
    const std::size_t i = text.find_first_not_of(L" \t");
    if (i == std::wstring::npos) return {};
    std::size_t after = 0;
    if (text[i] == L'"') {
        const std::size_t end = text.find(L'"', i + 1);
        if (end == std::wstring::npos) return {};
        after = end + 1;
        if (after < text.size() && text[after] == L',') ++after;
    } else {
        const std::size_t end = text.find_first_of(L",\r\n", i);
        if (end == std::wstring::npos || text[end] != L',') return {};
        after = end + 1;
    }
    const std::size_t line_end = text.find_first_of(L"\r\n", after);
    std::wstring rest =
        text.substr(after, line_end == std::wstring::npos ? std::wstring::npos : line_end - after);
    const bool cut = rest.size() > kReasonLimit;
    if (cut) {
        rest.resize(kReasonLimit);
        if (rest.back() >= 0xD800 && rest.back() <= 0xDBFF) rest.pop_back();
    }
    std::wstring safe = SafeReasonText(rest);
    if (cut && !safe.empty()) safe += L'\u2026';
    return safe;
}

Verdict ModelVerdict(const std::wstring& field) {
    const std::size_t at = field.find(L"ok");
    return at == 0 ? Verdict::Pass : at == std::wstring::npos ? Verdict::Fail : Verdict::NoChange;
}

// count filler characters in front of body, after its byte-order mark if it has one, so
// that the mark still decides how the whole file reads.
std::string Padded(std::string_view body, std::size_t count) {
    std::string_view mark;
    std::string_view unit = "x";
    if (body.substr(0, 3) == "\xEF\xBB\xBF") {
        mark = body.substr(0, 3);
    } else if (body.substr(0, 2) == "\xFF\xFE") {
        mark = body.substr(0, 2);
        unit = std::string_view("x\0", 2);
    } else if (body.substr(0, 2) == "\xFE\xFF") {
        mark = body.substr(0, 2);
        unit = std::string_view("\0x", 2);
    }
    std::string out(mark);
    for (std::size_t i = 0; i < count; ++i) out += unit;
    out += body.substr(mark.size());
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    Latin1 latin1;
    DoubleByte double_byte;
    Astral astral;
    TextCodec* codecs[] = {&latin1, &double_byte, &astral};
    TextCodec& codec = *codecs[(data[0] & 3) % 3];
    const unsigned shape = data[0] >> 2;
    std::string_view bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
    std::string shaped;
    if (shape == 63 && !bytes.empty()) {
        while (shaped.size() < 4400) shaped += bytes;
        bytes = shaped;
    } else if (shape >= 32) {
        shaped = Padded(bytes, 224 + (shape - 32) * 4);
        bytes = shaped;
    }
    MemoryFileSystem files(bytes, data[1]);
    const std::wstring path = L"C:\\tmptk\\fuzz.txt";

    const std::wstring text = ModelDecode(bytes, codec);

    try {
        const MarkerField field = ReadMarkerField(files, codec, path);
        CHECK(!bytes.empty());
        CHECK(files.state.closed);
        const std::wstring expected = ModelField(text);
        const Verdict verdict = ModelVerdict(expected);
        CHECK(field.length == expected.size());
        CHECK(field.head == expected.substr(0, kMarkerHeadLimit));
        CHECK(DecideVerdict(field) == verdict);
        CHECK(field.token_found == (verdict != Verdict::Fail));
        CHECK(field.reason == ModelReason(text));
        if (field.length <= kMarkerHeadLimit) CHECK(DecideVerdict(field.head) == verdict);
    } catch (const Failure& failure) {
        CHECK(bytes.empty());
        CHECK(failure.code == win_error::kHandleEof);
    }

    files.Reset();
    try {
        const std::wstring line = ReadVersionLine(files, codec, path);
        CHECK(!bytes.empty());
        CHECK(files.state.closed);
        CHECK(line == text.substr(0, text.find(L'\r')).substr(0, kVersionLineLimit));
    } catch (const Failure& failure) {
        CHECK(bytes.empty());
        CHECK(failure.code == win_error::kHandleEof);
    }
    return 0;
}
