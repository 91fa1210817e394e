// The contract's rig under Wine (os_files_win32.cpp): the prefix's own
// drive, the test's folder made for each row and removed with everything in
// it afterwards, and the restart's list (PendingFileRenameOperations) put
// back as it was.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "tests/unit/uninstall/files_contract.h"
#include "tests/support/text16.h"

namespace qxtest {
namespace {

std::u16string Below(const std::u16string& path) {
    return std::u16string(kFilesBase) + u"\\" + path;
}

const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPending[] = L"PendingFileRenameOperations";

// Removes a folder and everything in it, read-only files too.
void RemoveTree(const std::wstring& dir) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((dir + L"\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = dir + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    RemoveDirectoryW(dir.c_str());
}

// The restart's list as pairs of (source, target) strings.
std::vector<std::wstring> ReadPending() {
    std::vector<std::wstring> out;
    DWORD bytes = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending, RRF_RT_REG_MULTI_SZ, nullptr,
                     nullptr, &bytes) != ERROR_SUCCESS) {
        return out;
    }
    std::vector<wchar_t> data(bytes / sizeof(wchar_t) + 2, 0);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kSessionManager, kPending, RRF_RT_REG_MULTI_SZ, nullptr,
                     data.data(), &bytes) != ERROR_SUCCESS) {
        return out;
    }
    // Pairs of strings; a deletion's target is the empty string, and the
    // list ends where a source would be empty.
    const size_t units = bytes / sizeof(wchar_t);
    size_t at = 0;
    while (at < units && data[at] != 0) {
        const std::wstring source = data.data() + at;
        at += source.size() + 1;
        const std::wstring target = at < units ? data.data() + at : L"";
        at += target.size() + 1;
        out.push_back(source);
        out.push_back(target);
    }
    return out;
}

bool Ours(const std::wstring& source) {
    const std::wstring prefix = L"\\??\\" + std::wstring(W(kFilesBase)) + L"\\";
    return CompareStringOrdinal(source.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                                static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

// Takes this test's entries out of the restart's list again.
void DropOurPending() {
    const std::vector<std::wstring> pending = ReadPending();
    std::wstring kept;
    bool dropped = false;
    for (size_t i = 0; i + 1 < pending.size(); i += 2) {
        if (Ours(pending[i])) {
            dropped = true;
            continue;
        }
        kept += pending[i] + L'\0' + pending[i + 1] + L'\0';
    }
    if (!dropped) return;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key) != 0) return;
    if (kept.empty()) {
        RegDeleteValueW(key, kPending);
    } else {
        kept += L'\0';
        RegSetValueExW(key, kPending, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.c_str()),
                       static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
    }
    RegCloseKey(key);
}

class Win32Rig : public FilesRig {
  public:
    std::string Run(const std::function<std::string()>& body) override {
        RemoveTree(W(kFilesBase));
        DropOurPending();
        if (!CreateDirectoryW(W(kFilesBase), nullptr)) ADD_FAILURE() << "CreateDirectoryW";
        std::string out = body();
        for (HANDLE h : held_) CloseHandle(h);
        held_.clear();
        DropOurPending();
        RemoveTree(W(kFilesBase));
        EXPECT_EQ(GetFileAttributesW(W(kFilesBase)), INVALID_FILE_ATTRIBUTES)
            << "the test's folder was not removed";
        return out;
    }
    void AddFile(const std::u16string& path) override {
        const std::u16string full = Below(path);
        for (size_t at = full.find(u'\\', 3); at != std::u16string::npos;
             at = full.find(u'\\', at + 1)) {
            CreateDirectoryW(W(full.substr(0, at)), nullptr);
        }
        HANDLE h = CreateFileW(W(full), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            ADD_FAILURE() << "CreateFileW: " << GetLastError();
            return;
        }
        CloseHandle(h);
    }
    void AddFolder(const std::u16string& path) override {
        if (!CreateDirectoryW(W(Below(path)), nullptr)) ADD_FAILURE() << "CreateDirectoryW";
    }
    void HoldOpen(const std::u16string& path) override {
        HANDLE h = CreateFileW(W(Below(path)), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            ADD_FAILURE() << "CreateFileW: " << GetLastError();
            return;
        }
        held_.push_back(h);
    }
    void MakeReadOnly(const std::u16string& path) override {
        if (!SetFileAttributesW(W(Below(path)), FILE_ATTRIBUTE_READONLY)) {
            ADD_FAILURE() << "SetFileAttributesW: " << GetLastError();
        }
    }
    bool Exists(const std::u16string& path) override {
        return GetFileAttributesW(W(Below(path))) != INVALID_FILE_ATTRIBUTES;
    }
    std::string AtRestart() override {
        const std::vector<std::wstring> pending = ReadPending();
        std::string out;
        for (size_t i = 0; i + 1 < pending.size(); i += 2) {
            // A deletion has no target; its source carries the \??\ prefix.
            if (!Ours(pending[i]) || !pending[i + 1].empty()) continue;
            if (!out.empty()) out += " ";
            for (size_t c = 4; c < pending[i].size(); ++c) out += static_cast<char>(pending[i][c]);
        }
        return out;
    }

  private:
    std::vector<HANDLE> held_;
};

}  // namespace

FilesRig& Rig() {
    static Win32Rig rig;
    return rig;
}

}  // namespace qxtest
