// C:\tmptk\ made safe to write into: created private, or checked and, when others may
// write to it, made private, or refused.
#pragma once

#include <windows.h>

#include <string>

#include "companion/directory_acl.h"

namespace qtk::companion::win32 {

// The directory stays open, without delete sharing, for as long as this object lives, so
// it cannot be renamed away and replaced while the files are written into it.
class SecureDirectory {
public:
    // Throws Failure when the directory cannot be created, opened, read, made private, or
    // is no plain directory.
    explicit SecureDirectory(const std::wstring& path);
    ~SecureDirectory();
    SecureDirectory(const SecureDirectory&) = delete;
    SecureDirectory& operator=(const SecureDirectory&) = delete;

private:
    DirectoryFacts ReadFacts() const;
    // Empty when the open directory is C:\tmptk itself; otherwise where it really is.
    std::wstring WhereElse() const;
    void Tighten(const DirectoryJudgement& judgement);

    std::wstring path_;
    std::wstring user_sid_;
    HANDLE pin_ = INVALID_HANDLE_VALUE;
};

// The current user's SID as text, "S-1-5-21-...".
std::wstring CurrentUserSid();

}  // namespace qtk::companion::win32
