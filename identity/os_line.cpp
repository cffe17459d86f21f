#include "identity/os_line.h"

#include <algorithm>
#include <memory>

#include "platform/text_stream.h"

namespace qtk {

std::wstring ReadVersionLine(FileSystem& files, TextCodec& text, const std::wstring& path) {
    std::unique_ptr<InputFile> file =
        OpenTextFile(files, path, L"Cannot open the OS-version file");
    TextStream stream(*file, text);
    std::wstring line;
    for (;;) {
        const std::u16string_view block = stream.NextBlock();
        if (block.empty()) {
            if (stream.HeldNoBytes()) {
                file->Close();
                throw Failure{win_error::kHandleEof, L"The OS-version file is empty", path};
            }
            break;
        }
        // Only CR ends the line; the LF of a CR LF pair is never reached, and a lone LF is
        // part of the text.
        const std::size_t cr = block.find(u'\r');
        const std::u16string_view part = block.substr(0, cr);
        // Past the limit the line is still read to its end, only not kept: however long,
        // it is one line, and a read error anywhere in it ends the run as for a short one.
        const std::size_t room = kVersionLineLimit - line.size();
        const std::size_t keep = std::min(room, part.size());
        for (std::size_t i = 0; i < keep; ++i) line.push_back(static_cast<wchar_t>(part[i]));
        if (cr != std::u16string_view::npos) break;
    }
    file->Close();
    return line;
}

std::wstring ComposeOsLine(std::wstring_view product, std::wstring_view service_pack,
                           std::wstring_view version_line) {
    std::wstring line(product);
    line += L' ';
    line += version_line == kVersionFailLine.text() ? service_pack : version_line;
    return line;
}

}  // namespace qtk
