#include "platform/text_stream.h"

#include <algorithm>

namespace qtk {
namespace {

constexpr std::uint32_t kReplacement = 0xFFFD;

}  // namespace

std::unique_ptr<InputFile> OpenTextFile(FileSystem& files, const std::wstring& path,
                                        std::wstring_view action) {
    try {
        return files.OpenForReading(path);
    } catch (Failure& failure) {
        // Not handled, only named: the same failure goes on up with its error number.
        failure.action = action;
        failure.subject = path;
        throw;
    }
}

TextStream::TextStream(InputFile& file, TextCodec& codec, std::size_t chunk_bytes)
    : file_(file), codec_(codec), chunk_bytes_(std::max<std::size_t>(chunk_bytes, 1)) {
    // Room for a short first read plus a whole chunk while the byte-order mark is sniffed.
    raw_.resize(chunk_bytes_ + 4);
}

std::size_t TextStream::ReadSome(unsigned char* into, std::size_t capacity) {
    // Whatever was appended after the open is not part of what we were given to read.
    const std::uint64_t size = file_.SizeAtOpen();
    if (size != InputFile::kSizeUnknown) {
        const std::uint64_t left = size > bytes_read_ ? size - bytes_read_ : 0;
        if (left < capacity) capacity = static_cast<std::size_t>(left);
        if (capacity == 0) {
            ended_ = true;
            return 0;
        }
    }
    const std::size_t count = file_.Read(into, capacity);
    if (count == 0) ended_ = true;
    bytes_read_ += count;
    return count;
}

void TextStream::Start() {
    started_ = true;
    // A first read may come back short; the mark is up to three bytes, so read until
    // there are three or the file ends rather than mistake a split mark for ANSI text.
    std::size_t have = 0;
    while (have < 3 && !ended_) {
        have += ReadSome(raw_.data() + have, std::min(chunk_bytes_, raw_.size() - have));
    }
    const unsigned char* bytes = raw_.data();
    std::size_t skip = 0;
    if (have >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        encoding_ = TextEncoding::Utf8;
        skip = 3;
    } else if (have >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        encoding_ = TextEncoding::Utf16Le;
        skip = 2;
    } else if (have >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        encoding_ = TextEncoding::Utf16Be;
        skip = 2;
    } else {
        encoding_ = TextEncoding::Ansi;
        for (int b = 0; b < 256; ++b) {
            lead_byte_[b] = codec_.IsLeadByte(static_cast<unsigned char>(b));
            double_byte_ = double_byte_ || lead_byte_[b];
        }
    }
    Decode(bytes + skip, have - skip);
}

std::u16string_view TextStream::NextBlock() {
    units_.clear();
    if (!started_) Start();
    // A chunk can decode to nothing (half a character); keep reading until it gives text.
    while (units_.empty() && !ended_) {
        const std::size_t count = ReadSome(raw_.data(), chunk_bytes_);
        Decode(raw_.data(), count);
    }
    return units_;
}

void TextStream::Decode(const unsigned char* bytes, std::size_t count) {
    switch (encoding_) {
        case TextEncoding::Ansi: DecodeAnsi(bytes, count); break;
        case TextEncoding::Utf8: DecodeUtf8(bytes, count); break;
        case TextEncoding::Utf16Le:
        case TextEncoding::Utf16Be: DecodeUtf16(bytes, count); break;
    }
}

void TextStream::DecodeAnsi(const unsigned char* bytes, std::size_t count) {
    if (!double_byte_) {
        if (count > 0) AppendWide(codec_.FromAnsi({reinterpret_cast<const char*>(bytes), count}));
        return;
    }
    ansi_scratch_.clear();
    if (held_byte_ >= 0) ansi_scratch_.push_back(static_cast<char>(held_byte_));
    held_byte_ = -1;
    ansi_scratch_.append(reinterpret_cast<const char*>(bytes), count);
    if (!ended_) {
        // A trail byte can look like a lead byte, so only a walk from a known character
        // start tells whether the last byte opens a character the next chunk finishes.
        std::size_t at = 0;
        while (at < ansi_scratch_.size()) {
            at += lead_byte_[static_cast<unsigned char>(ansi_scratch_[at])] ? 2 : 1;
        }
        if (at > ansi_scratch_.size()) {
            held_byte_ = static_cast<unsigned char>(ansi_scratch_.back());
            ansi_scratch_.pop_back();
        }
    }
    if (!ansi_scratch_.empty()) AppendWide(codec_.FromAnsi(ansi_scratch_));
}

void TextStream::AppendWide(std::wstring_view wide) {
    // wchar_t is UTF-16 on Windows but UTF-32 elsewhere; a codec that hands back whole
    // code points still yields the same code units here as on Windows.
    // Two plain passes rather than one with an early exit: both vectorise, and this copy
    // is most of the cost of reading a long ANSI field.
    std::uint32_t bits = 0;
    for (wchar_t w : wide) bits |= static_cast<std::uint32_t>(w);
    if (bits > 0xFFFF) {
        for (wchar_t w : wide) Emit(static_cast<std::uint32_t>(w));
        return;
    }
    const std::size_t base = units_.size();
    units_.resize(base + wide.size());
    char16_t* out = units_.data() + base;
    for (std::size_t i = 0; i < wide.size(); ++i) out[i] = static_cast<char16_t>(wide[i]);
}

void TextStream::Emit(std::uint32_t code_point) {
    if (code_point <= 0xFFFF) {
        units_.push_back(static_cast<char16_t>(code_point));
    } else if (code_point <= 0x10FFFF) {
        code_point -= 0x10000;
        units_.push_back(static_cast<char16_t>(0xD800 + (code_point >> 10)));
        units_.push_back(static_cast<char16_t>(0xDC00 + (code_point & 0x3FF)));
    } else {
        units_.push_back(static_cast<char16_t>(kReplacement));
    }
}

void TextStream::DecodeUtf8(const unsigned char* bytes, std::size_t count) {
    // Each maximal ill-formed subsequence becomes one U+FFFD, as Windows and the web do,
    // so a damaged byte never swallows the comma or quote after it.
    std::size_t i = 0;
    while (i < count) {
        const unsigned char b = bytes[i];
        if (utf8_needed_ == 0) {
            ++i;
            if (b < 0x80) {
                units_.push_back(static_cast<char16_t>(b));
            } else if (b >= 0xC2 && b <= 0xDF) {
                utf8_needed_ = 1;
                utf8_code_point_ = b & 0x1Fu;
            } else if (b >= 0xE0 && b <= 0xEF) {
                if (b == 0xE0) utf8_lower_ = 0xA0;  // overlong
                if (b == 0xED) utf8_upper_ = 0x9F;  // surrogates
                utf8_needed_ = 2;
                utf8_code_point_ = b & 0x0Fu;
            } else if (b >= 0xF0 && b <= 0xF4) {
                if (b == 0xF0) utf8_lower_ = 0x90;  // overlong
                if (b == 0xF4) utf8_upper_ = 0x8F;  // beyond U+10FFFF
                utf8_needed_ = 3;
                utf8_code_point_ = b & 0x07u;
            } else {
                units_.push_back(static_cast<char16_t>(kReplacement));
            }
            continue;
        }
        if (b < utf8_lower_ || b > utf8_upper_) {
            // The sequence is cut short; this byte is not consumed but starts afresh.
            utf8_needed_ = utf8_seen_ = 0;
            utf8_code_point_ = 0;
            utf8_lower_ = 0x80;
            utf8_upper_ = 0xBF;
            units_.push_back(static_cast<char16_t>(kReplacement));
            continue;
        }
        ++i;
        utf8_lower_ = 0x80;
        utf8_upper_ = 0xBF;
        utf8_code_point_ = (utf8_code_point_ << 6) | (b & 0x3Fu);
        if (++utf8_seen_ == utf8_needed_) {
            Emit(utf8_code_point_);
            utf8_needed_ = utf8_seen_ = 0;
            utf8_code_point_ = 0;
        }
    }
    if (ended_ && utf8_needed_ != 0) {
        utf8_needed_ = utf8_seen_ = 0;
        utf8_code_point_ = 0;
        utf8_lower_ = 0x80;
        utf8_upper_ = 0xBF;
        units_.push_back(static_cast<char16_t>(kReplacement));
    }
}

void TextStream::DecodeUtf16(const unsigned char* bytes, std::size_t count) {
    const bool little = encoding_ == TextEncoding::Utf16Le;
    auto unit = [little](unsigned first, unsigned second) {
        return static_cast<char16_t>(little ? (second << 8) | first : (first << 8) | second);
    };
    std::size_t i = 0;
    if (held_byte_ >= 0 && count > 0) {
        units_.push_back(unit(static_cast<unsigned>(held_byte_), bytes[0]));
        held_byte_ = -1;
        i = 1;
    }
    for (; i + 1 < count; i += 2) units_.push_back(unit(bytes[i], bytes[i + 1]));
    if (i < count) held_byte_ = bytes[i];
    if (ended_ && held_byte_ >= 0) {
        // Half a code unit is no character; it must not vanish silently either.
        held_byte_ = -1;
        units_.push_back(static_cast<char16_t>(kReplacement));
    }
}

}  // namespace qtk
