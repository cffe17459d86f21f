// Whole-file writes and replacements on the real file system.
#pragma once

#include "companion/output_writer.h"

namespace qtk::companion::win32 {

class Win32OutputFiles : public OutputFiles {
public:
    std::uint32_t WriteWhole(const std::wstring& path, std::string_view bytes) override;
    std::uint32_t Replace(const std::wstring& from, const std::wstring& to) override;
    std::uint32_t Remove(const std::wstring& path) override;
};

}  // namespace qtk::companion::win32
