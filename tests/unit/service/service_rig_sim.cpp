// The contract's rig on the virtual notebook (os_service_sim.cpp): the file
// model holds the stand-in daemon, the process model's script ends each child
// with the code its command line names (or not at all), and the service
// manager model did not start this process. A row that leaves a handle open
// or uses one wrongly fails through the models' violations.
#include <gtest/gtest.h>

#include <string>

#include "sim/file_model.h"
#include "sim/notebook.h"
#include "sim/process_model.h"
#include "sim/scm_model.h"
#include "tests/unit/service/service_contract.h"

namespace qxtest {
namespace {

constexpr char16_t kProgram[] = u"C:\\Program Files\\Halvorn\\quellix.exe";

class SimRig : public ServiceRig {
  public:
    std::string Run(const std::function<std::string()>& body) override {
        auto& notebook = qxsim::Notebook::Current();
        notebook.Files().Reset();
        notebook.Files().AddFile(kProgram);
        notebook.Scm().Reset();
        notebook.Scm().SetStartedByManager(false);
        auto& processes = notebook.Processes();
        processes.Reset();
        processes.SetScript([](const std::u16string& command_line) {
            qxsim::ProcessModel::Plan plan;
            const int code = std::stoi(
                std::string(command_line.begin() + command_line.rfind(u' '), command_line.end()));
            if (code >= 0) {
                plan.runs_ms = 0;
                plan.exit_code = static_cast<uint32_t>(code);
            }
            return plan;
        });
        std::string out = body();
        EXPECT_EQ(processes.OpenHandles(), 0) << "a handle left open";
        for (const auto& v : processes.Violations()) ADD_FAILURE() << v;
        for (const auto& v : notebook.Scm().Violations()) ADD_FAILURE() << v;
        return out;
    }
    std::u16string Program() override { return kProgram; }
    std::u16string ProgramName() override { return u"quellix.exe"; }
    std::u16string CommandLine(int exit_code) override {
        const std::string code = std::to_string(exit_code);
        return u"quellix.exe " + std::u16string(code.begin(), code.end());
    }
    bool Ran(uint32_t ms) override {
        qxsim::Notebook::Current().Kernel().Sleep(ms);
        const auto children = qxsim::Notebook::Current().Processes().Children();
        return !children.empty() && children.back().ran;
    }
    uint32_t ExitCode() override {
        const auto children = qxsim::Notebook::Current().Processes().Children();
        return children.empty() ? 0xDEAD : children.back().exit_code;
    }
};

}  // namespace

ServiceRig& Rig() {
    static SimRig rig;
    return rig;
}

}  // namespace qxtest
