// Sequential text input: an InputFile decoded chunk by chunk into UTF-16 code units.
//
// The set-up scripts write single-byte ANSI text, but an editor or a PowerShell redirect
// can leave UTF-8 or UTF-16 with a byte-order mark; both are honoured so that such a file
// reads as the text it shows. Memory stays bounded by one chunk whatever the file's size,
// and a reader that has what it needs simply stops asking: nothing further is read.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/seam.h"

namespace qtk {

enum class TextEncoding { Ansi, Utf8, Utf16Le, Utf16Be };

// Opens path for reading. A failure to open keeps the system's error number but is
// renamed after what the caller was doing, with the full path as its subject, so that the
// error report says which of the program's files was the trouble.
std::unique_ptr<InputFile> OpenTextFile(FileSystem& files, const std::wstring& path,
                                        std::wstring_view action);

class TextStream {
public:
    static constexpr std::size_t kChunkBytes = 4096;

    // Neither the file nor the codec is owned; both must outlive the stream.
    TextStream(InputFile& file, TextCodec& codec, std::size_t chunk_bytes = kChunkBytes);
    TextStream(const TextStream&) = delete;
    TextStream& operator=(const TextStream&) = delete;

    // The next run of decoded UTF-16 code units, empty only once the file is exhausted.
    // The view is valid until the next call. Each call reads as few chunks as it can
    // (normally one); a read error throws the file's Failure.
    std::u16string_view NextBlock();

    // True when the file ended before its first byte. A file holding only a byte-order
    // mark has bytes: it reads as empty text, not as an empty file. Meaningful once
    // NextBlock has been called.
    bool HeldNoBytes() const { return started_ && bytes_read_ == 0; }


private:
    std::size_t ReadSome(unsigned char* into, std::size_t capacity);
    void Start();
    void Decode(const unsigned char* bytes, std::size_t count);
    void DecodeAnsi(const unsigned char* bytes, std::size_t count);
    void DecodeUtf8(const unsigned char* bytes, std::size_t count);
    void DecodeUtf16(const unsigned char* bytes, std::size_t count);
    void AppendWide(std::wstring_view wide);
    void Emit(std::uint32_t code_point);

    InputFile& file_;
    TextCodec& codec_;
    std::size_t chunk_bytes_;
    std::vector<unsigned char> raw_;
    std::u16string units_;
    TextEncoding encoding_ = TextEncoding::Ansi;
    bool started_ = false;
    bool ended_ = false;
    std::uint64_t bytes_read_ = 0;

    // A byte carried to the next chunk: the first half of a UTF-16 unit, or a DBCS lead
    // byte whose trail byte is still in the file. -1 when none.
    int held_byte_ = -1;

    // Partial UTF-8 sequence carried across chunks.
    std::uint32_t utf8_code_point_ = 0;
    int utf8_needed_ = 0;
    int utf8_seen_ = 0;
    unsigned char utf8_lower_ = 0x80;
    unsigned char utf8_upper_ = 0xBF;

    // The ANSI code page's lead bytes, asked of the codec once per stream.
    std::array<bool, 256> lead_byte_{};
    bool double_byte_ = false;
    std::string ansi_scratch_;
};

}  // namespace qtk
