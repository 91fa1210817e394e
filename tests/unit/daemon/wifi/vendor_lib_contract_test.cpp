// The vendor-library seam's one contract: what the Intel provider relies on,
// the same on every half.
#include <gtest/gtest.h>

#include <string>

#include "daemon/wifi/os_vendor_lib.h"
#include "tests/unit/daemon/wifi/vendor_lib_contract.h"
#include "tests/support/contract_rows.h"

namespace qxtest {
namespace {

using namespace qx::os;

// Loads the library at `path`, looks up each export, frees it.
std::string LoadAndLookUp(const wchar_t* path, std::initializer_list<const char*> exports) {
    VendorLibrary* library = VendorLibraryLoad(path);
    if (library == nullptr) return "not loaded";
    std::string out = "loaded";
    for (const char* name : exports)
        out += std::string(", ") + name + (VendorLibrarySymbol(library, name) ? " found" : " none");
    VendorLibraryFree(library);
    return out;
}

TEST(VendorLibContractTest, EachHalfAnswersAsWindows) {
    VendorLibRig& rig = Rig();
    const std::vector<ContractRow> rows = {
        {"nothing at the path", [] { return LoadAndLookUp(kIntelLibraryPath, {}); }, "not loaded"},
        {"the library at its path, its two exports and one it lacks",
         [&rig] {
             rig.Install();
             return LoadAndLookUp(
                 kIntelLibraryPath,
                 {"WifiGetAdapterList", "WifiGetBSSConfigurationStatistics", "WifiGetNothing"});
         },
         "loaded, WifiGetAdapterList found, WifiGetBSSConfigurationStatistics found, "
         "WifiGetNothing none"},
        {"only the fixed path: not a folder beside it",
         [&rig] {
             rig.Install();
             return LoadAndLookUp(L"C:\\Program Files\\Intel\\murocapi.dll", {});
         },
         "not loaded"},
        {"loaded again after it was freed",
         [&rig] {
             rig.Install();
             std::string first = LoadAndLookUp(kIntelLibraryPath, {"WifiGetAdapterList"});
             return first + "; " + LoadAndLookUp(kIntelLibraryPath, {"WifiGetAdapterList"});
         },
         "loaded, WifiGetAdapterList found; loaded, WifiGetAdapterList found"},
        {"two loads held at once, each freed",
         [&rig] {
             rig.Install();
             VendorLibrary* a = VendorLibraryLoad(kIntelLibraryPath);
             VendorLibrary* b = VendorLibraryLoad(kIntelLibraryPath);
             std::string out = std::string(a && b ? "both" : "not both");
             if (b != nullptr) VendorLibraryFree(b);
             // The first load still holds the library.
             if (a != nullptr) {
                 out += VendorLibrarySymbol(a, "WifiGetAdapterList") ? ", still there" : ", gone";
                 VendorLibraryFree(a);
             }
             return out;
         },
         "both, still there"},
    };
    ExpectEachRow(rig, rows);
}

}  // namespace
}  // namespace qxtest
