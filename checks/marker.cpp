#include "checks/marker.h"

#include <algorithm>
#include <memory>

#include "platform/text_stream.h"

namespace qtk {
namespace {

// Follows the first field through the decoded text one block at a time. The field can be
// as long as the file, so only its head is kept; where the pass token first occurs is
// settled on the way, which is all the verdict needs.
class FieldScanner {
public:
    explicit FieldScanner(MarkerField& field) : field_(field) {}

    // Returns true once the field has ended; nothing after that point is looked at.
    bool Feed(std::u16string_view block) {
        std::size_t i = 0;
        if (state_ == State::Leading) {
            while (i < block.size() && (block[i] == u' ' || block[i] == u'\t')) ++i;
            if (i == block.size()) return false;
            if (block[i] == u'"') {
                state_ = State::Quoted;
                ++i;
            } else {
                state_ = State::Plain;
            }
        }
        return state_ == State::Quoted ? Scan<true>(block, i) : Scan<false>(block, i);
    }

private:
    enum class State { Leading, Plain, Quoted };

    template <bool kQuoted>
    static bool Ends(char16_t c) {
        if constexpr (kQuoted) {
            return c == u'"';
        } else {
            return c == u',' || c == u'\r' || c == u'\n';
        }
    }

    static constexpr std::size_t kStride = 32;

    // Whether a stride holds an end of the field or the probe. Written as a count, not
    // with early exits or short-circuits, because that is the form compilers vectorise.
    template <bool kQuoted>
    static bool Notable(const char16_t* units, char16_t probe) {
        int count = 0;
        for (std::size_t k = 0; k < kStride; ++k) {
            const char16_t c = units[k];
            if constexpr (kQuoted) {
                count += (c == u'"') + (c == probe);
            } else {
                count += (c == u',') + (c == u'\r') + (c == u'\n') + (c == probe);
            }
        }
        return count != 0;
    }

    template <bool kQuoted>
    bool Scan(std::u16string_view block, std::size_t i) {
        const std::size_t n = block.size();
        for (; i < n && field_.length < kMarkerHeadLimit; ++i) {
            if (Ends<kQuoted>(block[i])) return true;
            Take(block[i]);
        }
        return ScanTail<kQuoted>(block, i);
    }

    // Past the head nothing is kept and the token can no longer be at the start: only the
    // end of the field and, until it turns up, the token matter. A field may be the whole
    // of a huge file, so strides holding neither an end nor a 'k' are passed over whole.
    template <bool kQuoted>
    bool ScanTail(std::u16string_view block, std::size_t i) {
        const char16_t* units = block.data();
        const std::size_t n = block.size();
        const std::size_t from = i;
        bool ended = false;
        while (!ended && i < n) {
            const std::size_t stop = std::min(n, i + kStride);
            if (stop - i == kStride) {
                // Once the token is found a 'k' means nothing; probing for an end twice
                // keeps the loop the same.
                const char16_t probe = field_.token_found ? (kQuoted ? u'"' : u',') : u'k';
                if (!Notable<kQuoted>(units + i, probe)) {
                    previous_was_o_ = units[stop - 1] == u'o';
                    i = stop;
                    continue;
                }
            }
            for (; i < stop; ++i) {
                const char16_t c = units[i];
                if (Ends<kQuoted>(c)) {
                    ended = true;
                    break;
                }
                if (previous_was_o_ && c == u'k') field_.token_found = true;
                previous_was_o_ = c == u'o';
            }
        }
        field_.length += i - from;
        return ended;
    }

    void Take(char16_t c) {
        field_.head.push_back(static_cast<wchar_t>(c));
        // Tracking the previous unit, not the head, keeps a token split across two blocks
        // or straddling the end of the head from being missed.
        if (!field_.token_found && previous_was_o_ && c == u'k') {
            field_.token_found = true;
            field_.token_at_start = field_.length == 1;
        }
        previous_was_o_ = c == u'o';
        ++field_.length;
    }

    MarkerField& field_;
    State state_ = State::Leading;
    bool previous_was_o_ = false;
};

}  // namespace

MarkerField ReadMarkerField(FileSystem& files, TextCodec& text, const std::wstring& path) {
    std::unique_ptr<InputFile> file = OpenTextFile(files, path, L"Cannot open the marker file");
    TextStream stream(*file, text);
    MarkerField field;
    FieldScanner scanner(field);
    for (;;) {
        const std::u16string_view block = stream.NextBlock();
        if (block.empty()) {
            if (stream.HeldNoBytes()) {
                file->Close();
                throw Failure{win_error::kHandleEof, L"The marker file is empty", path};
            }
            break;
        }
        if (scanner.Feed(block)) break;
    }
    // Closed here, not by the destructor: no label may be painted while a marker is open.
    file->Close();
    return field;
}

Verdict DecideVerdict(const MarkerField& field) {
    if (field.token_at_start) return Verdict::Pass;
    if (!field.token_found) return Verdict::Fail;
    return Verdict::NoChange;
}

Verdict DecideVerdict(std::wstring_view field) {
    const std::size_t at = field.find(kPassToken);
    if (at == 0) return Verdict::Pass;
    if (at == std::wstring_view::npos) return Verdict::Fail;
    return Verdict::NoChange;
}

void PaintStatusLabel(StatusLabel& label, Verdict verdict, const StatusWords& words) {
    // Colour first: a window that repaints on the caption change shows the word in its
    // final colour at once.
    switch (verdict) {
        case Verdict::Pass:
            label.SetForeColor(kPassColor);
            label.SetCaption(words.pass);
            break;
        case Verdict::Fail:
            label.SetForeColor(kFailColor);
            label.SetCaption(words.fail);
            break;
        case Verdict::NoChange:
            break;
    }
}

void CheckMarkerFile(FileSystem& files, TextCodec& text, const std::wstring& path,
                     StatusLabel& label, const StatusWords& words) {
    const MarkerField field = ReadMarkerField(files, text, path);
    PaintStatusLabel(label, DecideVerdict(field), words);
}

}  // namespace qtk
