#include "uninstall/uninstall_logic.h"

#include "uninstall/os_files.h"

namespace qx::uninstall {

namespace {

// Registry key names are at most 255 units.
constexpr uint32_t kKeyNameChars = 256;
// DisplayName is read into 510 bytes.
constexpr uint32_t kDisplayNameChars = 255;

size_t Length(const char16_t* text) {
    size_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

}  // namespace

int32_t DeleteRegistryTree(os::RegHandle parent, const char16_t* sub_key) {
    if (os::RegistryDeleteKey(parent, sub_key) == kRegOk) return 0;
    {
        os::RegKey key;
        const int32_t opened = os::RegistryOpen(parent, sub_key, &key);
        if (opened == kRegNotFound) return 0;
        if (opened != kRegOk) return -1;
        // Always take the first sub-key: each deletion moves the next one to
        // the front. A sub-tree that will not go ends the loop instead of
        // being retried for ever.
        char16_t name[kKeyNameChars];
        while (os::RegistryEnumKey(key.get(), 0, name, kKeyNameChars) == kRegOk) {
            if (DeleteRegistryTree(key.get(), name) != 0) break;
        }
    }
    return os::RegistryDeleteKey(parent, sub_key) == kRegOk ? 0 : -1;
}

void TerminateRegString(char16_t* buffer, uint32_t bytes, uint32_t capacity_chars) {
    uint32_t chars = bytes / 2;
    if (chars > capacity_chars) chars = capacity_chars;
    buffer[chars] = 0;
}

bool SameText(const char16_t* a, const char16_t* b) {
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

int32_t FindProductEntries(os::RegHandle root, const char16_t* uninstall_root,
                           const char16_t* display_name, std::vector<ProductEntry>* entries) {
    os::RegKey uninstall;
    if (os::RegistryOpen(root, uninstall_root, &uninstall) != kRegOk) return -1;
    char16_t key_name[kKeyNameChars];
    for (uint32_t index = 0;; ++index) {
        const int32_t rc = os::RegistryEnumKey(uninstall.get(), index, key_name, kKeyNameChars);
        if (rc == kRegMoreData) continue;  // not a name we could open anyway
        if (rc != kRegOk) break;           // the end, or a root we can no longer read
        os::RegKey entry;
        if (os::RegistryOpen(uninstall.get(), key_name, &entry) != kRegOk) continue;
        char16_t value[kDisplayNameChars + 1];
        uint32_t type = 0;
        uint32_t bytes = kDisplayNameChars * 2;
        if (os::RegistryQueryValue(entry.get(), u"DisplayName", &type, value, &bytes) == kRegOk &&
            type == kRegSz) {
            TerminateRegString(value, bytes, kDisplayNameChars);
            if (SameText(value, display_name)) entries->push_back({value, key_name});
        }
    }
    return 0;
}

bool IsHelpArgument(const char16_t* arg) {
    static const char16_t* const kHelp[] = {u"/?", u"-?", u"/h", u"-h", u"--help"};
    for (const char16_t* help : kHelp) {
        size_t i = 0;
        for (; help[i] != 0; ++i) {
            char16_t c = arg[i];
            if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
            if (c != help[i]) break;
        }
        if (help[i] == 0 && arg[i] == 0) return true;
    }
    return false;
}

bool FormatMsiexecCommand(const char16_t* product_code, char16_t* out, size_t capacity) {
    static const char16_t kHead[] = u"msiexec /X";
    static const char16_t kTail[] = u" /qb /promptrestart";
    const size_t head = Length(kHead), code = Length(product_code), tail = Length(kTail);
    if (capacity == 0) return false;
    out[0] = 0;
    if (head + code + tail + 1 > capacity) return false;
    size_t at = 0;
    for (size_t i = 0; i < head; ++i) out[at++] = kHead[i];
    for (size_t i = 0; i < code; ++i) out[at++] = product_code[i];
    for (size_t i = 0; i < tail; ++i) out[at++] = kTail[i];
    out[at] = 0;
    return true;
}

const InstalledFile kInstalledFiles[kInstalledFileCount] = {
    {u"Quellix.exe", FileAction::kDelete},
    {u"qxveltrane.cat", FileAction::kDelete},
    {u"QXservice.exe", FileAction::kDelete},
    {u"QXVeltrane.sys", FileAction::kDelete},
    // The driver package and the running uninstaller itself go at the restart.
    {u"QXVeltrane.inf", FileAction::kDeleteAtRestart},
    {u"QXuninstall.exe", FileAction::kDeleteAtRestart},
};

int32_t DeleteInstalledFiles(const char16_t* windows_dir) {
    static const char16_t kFolder[] = u"\\Halvorn\\";
    int32_t scheduled = 0;
    for (const InstalledFile& file : kInstalledFiles) {
        std::u16string path = windows_dir;
        path += kFolder;
        path += file.name;
        if (path.size() + 1 > kMaxPath) continue;
        if (file.action == FileAction::kDelete) {
            const int32_t rc = os::FilesDelete(path.c_str());
            // 2 and 3: the file or its folder is already gone.
            if (rc == 0 || rc == 2 || rc == 3) continue;
        }
        os::FilesDeleteAtRestart(path.c_str());
        ++scheduled;
    }
    return scheduled;
}

bool WaitForServiceStopped(os::ScmHandle service, uint32_t limit_ms, uint32_t step_ms) {
    if (step_ms == 0) step_ms = 1;
    uint32_t waited = 0;
    for (;;) {
        uint32_t state = 0;
        if (os::ScmQueryState(service, &state) != 0) return false;
        if (state == os::kScmServiceStopped) return true;
        if (waited >= limit_ms) return false;
        const uint32_t step = limit_ms - waited < step_ms ? limit_ms - waited : step_ms;
        os::ScmSleepMs(step);
        waited += step;
    }
}

}  // namespace qx::uninstall
