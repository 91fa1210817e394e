// A whole file read into memory, but never more than a bound: a wrong path
// (a directory, /dev/zero, a capture) must give a clear refusal, not an
// endless read or an empty result.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <string>

namespace qx {

enum class FileRead {
    kOk,
    kDirectory,
    kCannotOpen,  // errno tells why
    kCannotRead,
    kTooLarge,  // more than max_bytes
};

inline FileRead ReadBoundedFile(const std::string& path, size_t max_bytes, std::string* data) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return FileRead::kDirectory;
    FILE* in = std::fopen(path.c_str(), "rb");
    if (in == nullptr) return FileRead::kCannotOpen;
    // One byte more than allowed tells a file at the limit from a longer one.
    data->clear();
    char chunk[4096];
    size_t n = 0;
    while (data->size() <= max_bytes && (n = std::fread(chunk, 1, sizeof chunk, in)) > 0) {
        data->append(chunk, n);
    }
    const bool failed = std::ferror(in) != 0;
    std::fclose(in);
    if (failed) return FileRead::kCannotRead;
    return data->size() > max_bytes ? FileRead::kTooLarge : FileRead::kOk;
}

}  // namespace qx
