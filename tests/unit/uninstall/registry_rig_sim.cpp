// The contract's rig on the virtual notebook (os_registry_sim.cpp): the
// registry model, emptied for each row. A row that leaves a key open or uses
// a handle wrongly fails through the model's violations.
#include <gtest/gtest.h>

#include "sim/notebook.h"
#include "sim/registry_model.h"
#include "tests/unit/uninstall/registry_contract.h"

namespace qxtest {
namespace {

std::u16string Below(const std::u16string& path) {
    return std::u16string(kRegistryBase) + u"\\" + path;
}

class SimRig : public RegistryRig {
  public:
    std::string Run(const std::function<std::string()>& body) override {
        auto& registry = qxsim::Notebook::Current().Registry();
        registry.Reset();
        registry.Create(kRegistryBase);
        std::string out = body();
        EXPECT_EQ(registry.OpenHandles(), 0u) << "a key left open";
        for (const auto& v : registry.Violations()) ADD_FAILURE() << v;
        return out;
    }
    void CreateKey(const std::u16string& path) override {
        qxsim::Notebook::Current().Registry().Create(Below(path));
    }
    void SetString(const std::u16string& path, const std::u16string& name,
                   const std::u16string& text) override {
        qxsim::Notebook::Current().Registry().SetString(Below(path), name, text);
    }
};

}  // namespace

RegistryRig& Rig() {
    static SimRig rig;
    return rig;
}

}  // namespace qxtest
