// Portable half of the uninstaller: the registry-tree delete, the search for
// the product's uninstall entries, the installed-file list and the bounded
// wait for the helper service. The OS is reached through the os_*.h seams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "uninstall/os_registry.h"
#include "uninstall/os_scm.h"

namespace qx::uninstall {

using os::kRegMoreData;
using os::kRegNoMoreItems;
using os::kRegNotFound;
using os::kRegOk;
using os::kRegSz;

// Deletes `sub_key` under `parent` with everything below it. Works key by key
// through open handles, so no path is ever built and no depth or name length
// can overrun a buffer. A key that does not exist counts as deleted. Returns 0,
// or -1 when something stayed behind.
int32_t DeleteRegistryTree(os::RegHandle parent, const char16_t* sub_key);

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
int32_t FindProductEntries(os::RegHandle root, const char16_t* uninstall_root,
                           const char16_t* display_name, std::vector<ProductEntry>* entries);

// Finds the entries first and only then removes them one by one: removing a
// product deletes its entry, which would shift the indexes of an enumeration
// still under way and skip the next entry. `remove(const ProductEntry&)`
// removes one. Returns FindProductEntries' result.
template <typename Remove>
int32_t UninstallProduct(os::RegHandle root, const char16_t* uninstall_root,
                         const char16_t* display_name, Remove&& remove) {
    std::vector<ProductEntry> entries;
    const int32_t rc = FindProductEntries(root, uninstall_root, display_name, &entries);
    for (const ProductEntry& entry : entries) remove(entry);
    return rc;
}

// "/?", "-?", "/h", "-h" or "--help", letters in any case.
bool IsHelpArgument(const char16_t* arg);

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

// Deletes the installed files under `windows_dir`. A file that cannot be
// deleted now (other than one that is already gone) is scheduled for
// deletion at the next restart. A name that would not fit the path limit is
// skipped rather than cut into some other path. Returns the number of files
// left for the restart.
int32_t DeleteInstalledFiles(const char16_t* windows_dir);

// Polls the service's state until it reports STOPPED or the limit passes,
// sleeping `step_ms` between polls. Returns true once stopped; false at the
// limit or as soon as the state cannot be read.
bool WaitForServiceStopped(os::ScmHandle service, uint32_t limit_ms, uint32_t step_ms);

}  // namespace qx::uninstall
