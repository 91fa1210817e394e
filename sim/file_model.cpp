#include "sim/file_model.h"

#include "common/os_codes.h"
#include "sim/case_fold.h"

namespace qxsim {

void FileModel::Reset() {
    std::lock_guard<std::mutex> lk(m_);
    windows_dir_ = u"C:\\windows";
    files_.clear();
    folders_.clear();
    AddFoldersLocked(FoldCase(windows_dir_ + u"\\system32"));
    errors_.clear();
    delete_calls_.clear();
    at_restart_.clear();
}

namespace {

// The folder above a path: everything before its last backslash.
std::u16string Parent(const std::u16string& path) {
    const size_t slash = path.rfind(u'\\');
    return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
}

}  // namespace

void FileModel::AddFoldersLocked(std::u16string folder) {
    for (; !folder.empty(); folder = Parent(folder)) folders_.insert(folder);
}

void FileModel::SetWindowsDirectory(const std::u16string& path) {
    std::lock_guard<std::mutex> lk(m_);
    windows_dir_ = path;
    AddFoldersLocked(FoldCase(path + u"\\system32"));
}

std::u16string FileModel::WindowsDirectory() {
    std::lock_guard<std::mutex> lk(m_);
    return windows_dir_;
}

std::u16string FileModel::SystemDirectory() {
    std::lock_guard<std::mutex> lk(m_);
    return windows_dir_ + u"\\system32";
}

void FileModel::AddFile(const std::u16string& path) {
    std::lock_guard<std::mutex> lk(m_);
    files_[FoldCase(path)] = true;
    AddFoldersLocked(Parent(FoldCase(path)));
}

void FileModel::AddFolder(const std::u16string& path) {
    std::lock_guard<std::mutex> lk(m_);
    AddFoldersLocked(FoldCase(path));
}

bool FileModel::Exists(const std::u16string& path) {
    std::lock_guard<std::mutex> lk(m_);
    return files_.count(FoldCase(path)) != 0;
}

void FileModel::SetDeleteError(const std::u16string& path, int32_t code) {
    std::lock_guard<std::mutex> lk(m_);
    errors_[FoldCase(path)] = code;
}

int32_t FileModel::Delete(const std::u16string& path) {
    std::lock_guard<std::mutex> lk(m_);
    delete_calls_.push_back(path);
    const std::u16string key = FoldCase(path);
    auto error = errors_.find(key);
    if (error != errors_.end()) return error->second;
    if (files_.erase(key) != 0) return 0;
    if (folders_.count(key) != 0) return qx::oscode::kErrorAccessDenied;
    const std::u16string parent = Parent(key);
    if (!parent.empty() && folders_.count(parent) == 0) return qx::oscode::kErrorPathNotFound;
    return qx::oscode::kErrorFileNotFound;
}

void FileModel::DeleteAtRestart(const std::u16string& path) {
    std::lock_guard<std::mutex> lk(m_);
    at_restart_.push_back(path);
}

std::vector<std::u16string> FileModel::DeleteCalls() {
    std::lock_guard<std::mutex> lk(m_);
    return delete_calls_;
}

std::vector<std::u16string> FileModel::AtRestart() {
    std::lock_guard<std::mutex> lk(m_);
    return at_restart_;
}

}  // namespace qxsim
