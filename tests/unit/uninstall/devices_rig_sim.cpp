// The contract's rig on the virtual notebook (os_devices_sim.cpp): the
// device installation model without the controller's power-on node, and the
// registry model for the driver keys, both emptied for each row. A row that
// leaves a list or key open or uses one wrongly fails through the models'
// violations.
#include <gtest/gtest.h>

#include "sim/device_install_model.h"
#include "sim/notebook.h"
#include "sim/registry_model.h"
#include "tests/unit/uninstall/devices_contract.h"

namespace qxtest {
namespace {

class SimRig : public DevicesRig {
  public:
    std::string Run(const std::function<std::string()>& body) override {
        auto& devices = qxsim::Notebook::Current().DeviceInstall();
        auto& registry = qxsim::Notebook::Current().Registry();
        devices.Reset();
        devices.SetControllerPresent(false);
        registry.Reset();
        keys_ = 0;
        std::string out = body();
        EXPECT_EQ(devices.OpenLists(), 0) << "a list left open";
        EXPECT_EQ(registry.OpenHandles(), 0u) << "a key left open";
        for (const auto& v : devices.Violations()) ADD_FAILURE() << v;
        for (const auto& v : registry.Violations()) ADD_FAILURE() << v;
        return out;
    }
    void AddDevice(const std::u16string& instance_id, const std::u16string& inf) override {
        qxsim::DeviceNode node;
        node.instance_id = instance_id;
        node.hardware_ids = {u"ACPI\\VLT0949", u"*VLT0949"};
        if (!inf.empty()) {
            const char16_t index[] = {u'0', u'0', u'0', static_cast<char16_t>(u'0' + keys_++), 0};
            node.driver_key = std::u16string(
                                  u"System\\CurrentControlSet\\Control\\Class\\"
                                  u"{4d36e97d-e325-11ce-bfc1-08002be10318}\\") +
                              index;
            qxsim::Notebook::Current().Registry().SetString(node.driver_key, u"InfPath", inf);
        }
        qxsim::Notebook::Current().DeviceInstall().AddDevice(node);
    }
    void AddDriverPackage(const std::u16string& inf) override {
        qxsim::Notebook::Current().DeviceInstall().AddDriverPackage(inf);
    }
    bool HasDriverPackage(const std::u16string& inf) override {
        return qxsim::Notebook::Current().DeviceInstall().HasDriverPackage(inf);
    }

  private:
    int keys_ = 0;
};

}  // namespace

DevicesRig& Rig() {
    static SimRig rig;
    return rig;
}

}  // namespace qxtest
