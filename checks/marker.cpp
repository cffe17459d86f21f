#include "checks/marker.h"

#include <algorithm>
#include <memory>

#include "platform/text_stream.h"

namespace qtk {
namespace {

// Follows the first field through the decoded text one block at a time. The field can be
// as long as the file, so only its head is kept; where the pass word first occurs is
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
        for (; i < block.size(); ++i) {
            const char16_t c = block[i];
            const bool ends = state_ == State::Quoted ? c == u'"'
                                                      : c == u',' || c == u'\r' || c == u'\n';
            if (ends) return true;
            Take(c);
        }
        return false;
    }

private:
    enum class State { Leading, Plain, Quoted };

    static constexpr std::wstring_view kToken = kPassWord.text();

    void Take(char16_t c) {
        if (field_.head.size() < kMarkerHeadLimit) field_.head.push_back(static_cast<wchar_t>(c));
        // Matching unit by unit, not in the head, keeps a word split across two blocks or
        // straddling the end of the head from being missed. Restarting at the word's first
        // letter is enough because no proper head of "ok" is also its tail.
        if (!field_.token_found) {
            const auto unit = static_cast<wchar_t>(c);
            matched_ = unit == kToken[matched_] ? matched_ + 1 : (unit == kToken[0] ? 1 : 0);
            if (matched_ == kToken.size()) {
                field_.token_found = true;
                field_.token_at_start = field_.length + 1 == kToken.size();
            }
        }
        ++field_.length;
    }

    MarkerField& field_;
    State state_ = State::Leading;
    std::size_t matched_ = 0;
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
    const std::size_t at = field.find(kPassWord.text());
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
