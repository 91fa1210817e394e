#include "uninstall/uninstall_logic.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/file_model.h"
#include "sim/registry_model.h"
#include "sim/scm_model.h"
#include "sim/vkernel.h"
#include "sim/notebook.h"

namespace qx::uninstall {
namespace {

using qxsim::RegistryModel;

// The virtual notebook's registry, empty.
RegistryModel& FreshRegistry() {
    qxsim::Notebook::Current().Registry().Reset();
    return qxsim::Notebook::Current().Registry();
}

const char16_t kRoot[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char16_t kProductKey[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quellix";

// ---- registry-tree delete ----------------------------------------------

TEST(DeleteRegistryTree, RemovesTheKeyAndEverythingBelowButNothingBeside) {
    RegistryModel& reg = FreshRegistry();
    reg.Create(std::u16string(kProductKey) + u"\\a\\b\\c");
    reg.Create(std::u16string(kProductKey) + u"\\a\\d");
    reg.Create(std::u16string(kProductKey) + u"\\e");
    reg.Create(std::u16string(kRoot) + u"\\Other\\x");
    reg.Create(std::u16string(kProductKey) + u"2");  // a sibling sharing the prefix
    EXPECT_EQ(0, DeleteRegistryTree(reg.Root(), kProductKey));
    EXPECT_EQ(nullptr, reg.Find(kProductKey));
    EXPECT_NE(nullptr, reg.Find(std::u16string(kRoot) + u"\\Other\\x"));
    EXPECT_NE(nullptr, reg.Find(std::u16string(kProductKey) + u"2"));
    EXPECT_EQ(0u, reg.OpenHandles());
}

TEST(DeleteRegistryTree, MissingKeyCountsAsDeleted) {
    RegistryModel& reg = FreshRegistry();
    reg.Create(kRoot);
    EXPECT_EQ(0, DeleteRegistryTree(reg.Root(), kProductKey));
    EXPECT_EQ(0u, reg.OpenHandles());
}

// Trees whose full paths are far longer than any fixed path buffer: deep
// chains of long names, and long names side by side.
TEST(DeleteRegistryTree, DeepAndLongTrees) {
    struct Case {
        const char* what;
        int depth;
        int width;
        size_t name_length;
    };
    const Case cases[] = {
        {"300 levels of 255-unit names", 300, 1, 255},
        {"600 levels of 1-unit names", 600, 1, 1},
        {"2000 siblings of 255-unit names", 1, 2000, 255},
        {"4 levels of 6 wide with 200-unit names", 4, 6, 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RegistryModel& reg = FreshRegistry();
        // Builds the tree level by level: every key gets `width` children.
        std::vector<std::u16string> level = {kProductKey};
        for (int d = 0; d < c.depth; ++d) {
            std::vector<std::u16string> next;
            for (const auto& path : level) {
                for (int w = 0; w < c.width; ++w) {
                    std::u16string name(c.name_length, static_cast<char16_t>(u'a' + w % 26));
                    name[0] = static_cast<char16_t>(u'A' + (w / 26) % 26);
                    if (c.name_length > 1) name[1] = static_cast<char16_t>(u'A' + w / 676);
                    next.push_back(path + u"\\" + name);
                    reg.Create(next.back());
                }
            }
            level = std::move(next);
        }
        reg.Create(std::u16string(kRoot) + u"\\Keep");
        // Deep chains: one path alone is longer than a 520-unit buffer.
        if (c.width == 1) {
            ASSERT_GT(level.back().size(), 520u);
        }
        EXPECT_EQ(0, DeleteRegistryTree(reg.Root(), kProductKey));
        EXPECT_EQ(nullptr, reg.Find(kProductKey));
        EXPECT_NE(nullptr, reg.Find(std::u16string(kRoot) + u"\\Keep"));
        EXPECT_EQ(0u, reg.OpenHandles());
    }
}

// A sub-key that cannot be deleted ends the walk (it would come back first
// on every enumeration) and the failure is passed up; what could go, went.
TEST(DeleteRegistryTree, UndeletableSubKeyStopsWithoutLooping) {
    RegistryModel& reg = FreshRegistry();
    reg.Create(std::u16string(kProductKey) + u"\\a\\locked")->undeletable = true;
    reg.Create(std::u16string(kProductKey) + u"\\b");
    EXPECT_EQ(-1, DeleteRegistryTree(reg.Root(), kProductKey));
    EXPECT_LT(reg.enum_calls, 10);
    EXPECT_NE(nullptr, reg.Find(std::u16string(kProductKey) + u"\\a\\locked"));
    EXPECT_EQ(0u, reg.OpenHandles());
}

TEST(DeleteRegistryTree, KeyThatCannotBeOpenedFails) {
    RegistryModel& reg = FreshRegistry();
    reg.Create(std::u16string(kProductKey) + u"\\a");
    reg.Find(kProductKey)->unopenable = true;
    EXPECT_EQ(-1, DeleteRegistryTree(reg.Root(), kProductKey));
    EXPECT_NE(nullptr, reg.Find(kProductKey));
}

// ---- product entries -----------------------------------------------------

std::u16string Entry(const char16_t* name) {
    return std::u16string(kRoot) + u"\\" + name;
}

TEST(UninstallProduct, MatchesExactlyAndCaseSensitively) {
    RegistryModel& reg = FreshRegistry();
    const struct {
        const char16_t* key;
        std::u16string display;
        bool terminated;
        uint32_t type;
        bool match;
    } entries[] = {
        {u"{A-1}", u"Halvorn Veltrane", true, kRegSz, true},
        {u"{A-2}", u"halvorn veltrane", true, kRegSz, false},
        {u"{A-3}", u"HALVORN VELTRANE", true, kRegSz, false},
        {u"{A-4}", u"Halvorn Veltrane ", true, kRegSz, false},
        {u"{A-5}", u"Halvorn Veltran", true, kRegSz, false},
        {u"{A-6}", u"Halvorn Veltrane 2", true, kRegSz, false},
        {u"{A-7}", u"Halvorn Veltrane", false, kRegSz, true},        // stored without terminator
        {u"{A-8}", u"Halvorn Veltrane", true, 2, false},             // REG_EXPAND_SZ
        {u"{A-9}", std::u16string(300, u'H'), true, kRegSz, false},  // longer than the buffer
    };
    for (const auto& e : entries) {
        reg.SetString(Entry(e.key), u"DisplayName", e.display, e.terminated, e.type);
    }
    reg.Create(Entry(u"{B-no-name}"));
    std::vector<std::u16string> removed;
    EXPECT_EQ(0,
              UninstallProduct(reg.Root(), kRoot, u"Halvorn Veltrane", [&](const ProductEntry& p) {
                  EXPECT_EQ(u"Halvorn Veltrane", p.display_name);
                  removed.push_back(p.key_name);
              }));
    std::vector<std::u16string> want;
    for (const auto& e : entries) {
        if (e.match) want.push_back(e.key);
    }
    EXPECT_EQ(want, removed);
    EXPECT_EQ(0u, reg.OpenHandles());
}

// msiexec deletes the entry it uninstalls. Two neighbouring matches must
// both be removed, in order, even though the first removal shifts the
// indexes of the keys after it.
TEST(UninstallProduct, RemovalOfOneEntryDoesNotSkipTheNext) {
    RegistryModel& reg = FreshRegistry();
    for (const char16_t* key : {u"{1}", u"{2}", u"{3}"}) {
        reg.SetString(Entry(key), u"DisplayName", u"Halvorn Veltrane");
    }
    reg.SetString(Entry(u"{0}"), u"DisplayName", u"Something else");
    std::vector<std::u16string> removed;
    UninstallProduct(reg.Root(), kRoot, u"Halvorn Veltrane", [&](const ProductEntry& p) {
        removed.push_back(p.key_name);
        EXPECT_EQ(kRegOk, reg.DeleteKey(reg.Root(), Entry(p.key_name.c_str()).c_str()));
    });
    EXPECT_EQ((std::vector<std::u16string>{u"{1}", u"{2}", u"{3}"}), removed);
    EXPECT_EQ(1u, reg.Find(kRoot)->children.size());
}

TEST(UninstallProduct, SkipsEntriesThatDoNotOpenAndFailsWithoutRoot) {
    RegistryModel& reg = FreshRegistry();
    reg.SetString(Entry(u"{1}"), u"DisplayName", u"Halvorn Veltrane");
    reg.SetString(Entry(u"{2}"), u"DisplayName", u"Halvorn Veltrane");
    reg.Find(Entry(u"{1}"))->unopenable = true;
    std::vector<std::u16string> removed;
    auto collect = [&](const ProductEntry& p) { removed.push_back(p.key_name); };
    EXPECT_EQ(0, UninstallProduct(reg.Root(), kRoot, u"Halvorn Veltrane", collect));
    EXPECT_EQ(std::vector<std::u16string>{u"{2}"}, removed);

    RegistryModel& empty = FreshRegistry();
    removed.clear();
    EXPECT_EQ(-1, UninstallProduct(empty.Root(), kRoot, u"Halvorn Veltrane", collect));
    EXPECT_TRUE(removed.empty());
}

TEST(RegistryStrings, TerminatedAtTheReturnedSize) {
    const struct {
        uint32_t bytes;
        size_t want_length;
    } cases[] = {{0, 0}, {1, 0}, {8, 4}, {9, 4}, {20, 10}, {22, 10}, {1000, 10}};
    for (const auto& c : cases) {
        char16_t buffer[11];
        for (auto& u : buffer) u = u'x';
        TerminateRegString(buffer, c.bytes, 10);
        EXPECT_EQ(c.want_length, std::u16string(buffer).size()) << c.bytes;
    }
}

// ---- msiexec command, files, service wait ---------------------------------

TEST(MsiexecCommand, FormatsAndRefusesOverlongCodes) {
    char16_t out[80];
    EXPECT_TRUE(FormatMsiexecCommand(u"{5B1D3723-D5AC-4B68-B491-A2562DE8663C}", out, 80));
    EXPECT_EQ(
        std::u16string(u"msiexec /X{5B1D3723-D5AC-4B68-B491-A2562DE8663C} /qb /promptrestart"),
        out);
    std::u16string code(61, u'A');  // 10 + 61 + 19 = 90 units: too long for 80
    EXPECT_FALSE(FormatMsiexecCommand(code.c_str(), out, 80));
    EXPECT_EQ(std::u16string(), out);
}

// The virtual notebook's files, empty, with their calls recorded.
qxsim::FileModel& FreshFiles() {
    qxsim::Notebook::Current().Files().Reset();
    return qxsim::Notebook::Current().Files();
}

TEST(InstalledFiles, DeletedInOrderWithInfAndUninstallerAtRestart) {
    qxsim::FileModel& files = FreshFiles();
    EXPECT_EQ(2, DeleteInstalledFiles(u"C:\\windows"));
    EXPECT_EQ((std::vector<std::u16string>{
                  u"C:\\windows\\Halvorn\\Quellix.exe", u"C:\\windows\\Halvorn\\qxveltrane.cat",
                  u"C:\\windows\\Halvorn\\QXservice.exe", u"C:\\windows\\Halvorn\\QXVeltrane.sys"}),
              files.DeleteCalls());
    EXPECT_EQ((std::vector<std::u16string>{u"C:\\windows\\Halvorn\\QXVeltrane.inf",
                                           u"C:\\windows\\Halvorn\\QXuninstall.exe"}),
              files.AtRestart());
}

TEST(InstalledFiles, FileInUseIsScheduledAndMissingFileIsNot) {
    qxsim::FileModel& files = FreshFiles();
    files.SetDeleteError(u"C:\\W\\Halvorn\\Quellix.exe", 32);    // sharing violation
    files.SetDeleteError(u"C:\\W\\Halvorn\\QXservice.exe", 5);   // access denied
    files.SetDeleteError(u"C:\\W\\Halvorn\\qxveltrane.cat", 2);  // not there
    files.SetDeleteError(u"C:\\W\\Halvorn\\QXVeltrane.sys", 3);  // no folder
    EXPECT_EQ(4, DeleteInstalledFiles(u"C:\\W"));
    EXPECT_EQ((std::vector<std::u16string>{
                  u"C:\\W\\Halvorn\\Quellix.exe", u"C:\\W\\Halvorn\\QXservice.exe",
                  u"C:\\W\\Halvorn\\QXVeltrane.inf", u"C:\\W\\Halvorn\\QXuninstall.exe"}),
              files.AtRestart());
}

TEST(InstalledFiles, PathsBeyondTheLimitAreSkippedNotCut) {
    qxsim::FileModel& files = FreshFiles();
    // 236 + "\\Halvorn\\" (9) + name + terminator: 14-unit names just fit in
    // 260, "QXuninstall.exe" (15) does not.
    std::u16string dir(236, u'd');
    EXPECT_EQ(1, DeleteInstalledFiles(dir.c_str()));
    EXPECT_EQ(4u, files.DeleteCalls().size());
    EXPECT_EQ(std::vector<std::u16string>{dir + u"\\Halvorn\\QXVeltrane.inf"}, files.AtRestart());
}

// The service as the service manager model runs it: stopped already, or
// asked to stop and STOPPED after a while (or never), or no longer readable.
TEST(ServiceWait, BoundedPolling) {
    struct Case {
        const char* what;
        bool running;            // false: STOPPED from the start
        int64_t stops_after_ms;  // after the stop control; -1 never
        int64_t query_fails_at;  // QueryServiceStatus fails from then on; -1 never
        bool stopped;
        uint32_t waited_ms;
    };
    const Case cases[] = {
        {"already stopped", false, 0, -1, true, 0},
        {"stops after three polls", true, 300, -1, true, 300},
        {"never stops: gives up at the limit", true, -1, -1, false, 10000},
        {"status cannot be read", true, -1, 50, false, 100},
    };
    auto& scm = qxsim::Notebook::Current().Scm();
    auto& kernel = qxsim::Notebook::Current().Kernel();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        scm.Reset();
        qxsim::ScmModel::Service service;
        service.name = u"svc";
        service.state = c.running ? qxsim::kSvcRunning : qxsim::kSvcStopped;
        service.stops_after_ms = c.stops_after_ms;
        scm.AddService(service);
        uint32_t error = 0;
        const uintptr_t manager = scm.OpenManager(&error);
        const uintptr_t handle =
            scm.OpenService(manager, u"svc", qxsim::kSvcStop | qxsim::kSvcQueryStatus, &error);
        if (c.running) {
            ASSERT_EQ(0u, scm.ControlStop(handle));
        }
        if (c.query_fails_at >= 0) {
            kernel.At(kernel.Now() + c.query_fails_at, [&scm] { scm.SetQueryError(6); });
        }
        const qxsim::VTime start = kernel.Now();
        const bool stopped =
            WaitForServiceStopped(reinterpret_cast<os::ScmHandle>(handle), 10000, 100);
        EXPECT_EQ(c.stopped, stopped);
        EXPECT_EQ(c.waited_ms, static_cast<uint32_t>(kernel.Now() - start));
        scm.CloseHandle(handle);
        scm.CloseHandle(manager);
        EXPECT_TRUE(scm.Violations().empty());
    }
}

}  // namespace
}  // namespace qx::uninstall
