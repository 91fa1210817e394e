// Portable half of the uninstaller: the registry-tree delete, the search for
// the product's uninstall entries, the installed-file list and the bounded
// wait for the helper service. The Win32 half supplies the interfaces below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qx::uninstall {

// Win32 registry result codes the logic tells apart.
constexpr int32_t kRegOk = 0;
constexpr int32_t kRegNotFound = 2;       // ERROR_FILE_NOT_FOUND
constexpr int32_t kRegMoreData = 234;     // ERROR_MORE_DATA
constexpr int32_t kRegNoMoreItems = 259;  // ERROR_NO_MORE_ITEMS
constexpr uint32_t kRegSz = 1;

using RegKey = void*;

// The few registry calls the uninstaller makes; results are Win32 codes.
class Registry {
  public:
    virtual ~Registry() = default;
    // RegOpenKeyExW with KEY_READ.
    virtual int32_t Open(RegKey parent, const char16_t* sub_key, RegKey* key) = 0;
    virtual void Close(RegKey key) = 0;
    // RegDeleteKeyW: fails while the key still has sub-keys.
    virtual int32_t DeleteKey(RegKey parent, const char16_t* sub_key) = 0;
    // RegEnumKeyExW: `chars` is the buffer size with the terminator.
    virtual int32_t EnumKey(RegKey key, uint32_t index, char16_t* name, uint32_t chars) = 0;
    // RegQueryValueExW: `bytes` holds the buffer size in and the value size out.
    virtual int32_t QueryValue(RegKey key, const char16_t* name, uint32_t* type, void* data,
                               uint32_t* bytes) = 0;
};

// Deletes `sub_key` under `parent` with everything below it. Works key by key
// through open handles, so no path is ever built and no depth or name length
// can overrun a buffer. A key that does not exist counts as deleted. Returns 0,
// or -1 when something stayed behind.
int32_t DeleteRegistryTree(Registry& registry, RegKey parent, const char16_t* sub_key);

// Registry strings may be stored without their terminating zero: ends the
// text at the size the query returned. `buffer` holds `capacity_chars` + 1
// units; a size beyond the buffer is cut to it.
void TerminateRegString(char16_t* buffer, uint32_t bytes, uint32_t capacity_chars);

// Exact, case-sensitive, whole-string comparison.
bool SameText(const char16_t* a, const char16_t* b);

struct ProductEntry {
    std::u16string display_name;
    std::u16string key_name;  // the product code, for msiexec
};

// Every sub-key of `uninstall_root` (under `root`) whose DisplayName is
// exactly `display_name`, in enumeration order. Keys that do not open are
// skipped. Returns -1 when the root cannot be opened, else 0.
int32_t FindProductEntries(Registry& registry, RegKey root, const char16_t* uninstall_root,
                           const char16_t* display_name, std::vector<ProductEntry>* entries);

// Finds the entries first and only then removes them one by one: removing a
// product deletes its entry, which would shift the indexes of an enumeration
// still under way and skip the next entry. Returns FindProductEntries' result.
int32_t UninstallProduct(Registry& registry, RegKey root, const char16_t* uninstall_root,
                         const char16_t* display_name,
                         const std::function<void(const ProductEntry&)>& remove);

// "<command> /X<product code> /qb /promptrestart" into `out`; false (and an
// empty text) when it does not fit in `capacity` units with the terminator.
bool FormatMsiexecCommand(const char16_t* product_code, char16_t* out, size_t capacity);

// The installed files, under "<Windows directory>\Halvorn".
enum class FileAction {
    kDelete,           // deleted now; scheduled for the next restart if in use
    kDeleteAtRestart,  // always scheduled for the next restart
};
struct InstalledFile {
    const char16_t* name;
    FileAction action;
};
constexpr size_t kInstalledFileCount = 6;
extern const InstalledFile kInstalledFiles[kInstalledFileCount];

// Path length limit of the file names, in units with the terminator.
constexpr size_t kMaxPath = 260;

class FileSystem {
  public:
    virtual ~FileSystem() = default;
    // DeleteFileW: 0 or the Win32 error.
    virtual int32_t Delete(const char16_t* path) = 0;
    // MoveFileExW(path, no destination, MOVEFILE_DELAY_UNTIL_REBOOT).
    virtual void DeleteAtRestart(const char16_t* path) = 0;
};

// Deletes the installed files under `windows_dir`. A file that cannot be
// deleted now (other than one that is already gone) is scheduled for
// deletion at the next restart. A name that would not fit the path limit is
// skipped rather than cut into some other path. Returns the number of files
// left for the restart.
int32_t DeleteInstalledFiles(FileSystem& files, const char16_t* windows_dir);

// Polls the helper service's state until it reports STOPPED (1) or the limit
// passes. `query` returns the state, or a negative value when it cannot be
// read; `sleep` waits the given milliseconds. Returns true once stopped.
bool WaitForServiceStopped(const std::function<int32_t()>& query,
                           const std::function<void(uint32_t)>& sleep, uint32_t limit_ms,
                           uint32_t step_ms);

}  // namespace qx::uninstall
