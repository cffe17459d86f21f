#include "companion/output_writer.h"

namespace qtk::companion {

std::wstring TemporaryPath(const std::wstring& path, std::uint32_t tag) {
    return path + L"." + std::to_wstring(tag) + L".tmp";
}

std::optional<Failure> WriteAll(OutputFiles& files, const std::vector<OutputFile>& plan,
                                std::uint32_t tag) {
    std::vector<std::wstring> temporaries;
    temporaries.reserve(plan.size());
    const auto remove_temporaries = [&] {
        for (const std::wstring& path : temporaries) files.Remove(path);
    };

    for (const OutputFile& file : plan) {
        const std::wstring temporary = TemporaryPath(file.path, tag);
        // Listed before the write: a write that fails halfway may still leave the file.
        temporaries.push_back(temporary);
        if (const std::uint32_t code = files.WriteWhole(temporary, file.bytes); code != 0) {
            remove_temporaries();
            return Failure{code, L"Cannot write the file", temporary};
        }
    }

    for (std::size_t i = 0; i < plan.size(); ++i) {
        if (const std::uint32_t code = files.Replace(temporaries[i], plan[i].path); code != 0) {
            remove_temporaries();
            for (const OutputFile& file : plan) files.Remove(file.path);
            return Failure{code, L"Cannot put the file in place", plan[i].path};
        }
    }
    return std::nullopt;
}

}  // namespace qtk::companion
