// The contract's rig on the virtual notebook (os_program_sim.cpp): the file
// model holds the program, and the process model's script ends each child
// with the code its command line names. A row that leaves a handle open or
// uses one wrongly fails through the process model's violations.
//
// Not a row: CreateProcessW of a path whose folder is missing answers 3 on
// Windows (and Wine); the process model answers 2, as tests of the service
// host and of the model itself expect of paths in folders they never made.
#include <gtest/gtest.h>

#include <string>

#include "sim/file_model.h"
#include "sim/notebook.h"
#include "sim/process_model.h"
#include "tests/unit/uninstall/program_contract.h"

namespace qxtest {
namespace {

constexpr char16_t kProgram[] = u"C:\\windows\\system32\\cmd.exe";

class SimRig : public ProgramRig {
  public:
    std::string Run(const std::function<std::string()>& body) override {
        auto& processes = qxsim::Notebook::Current().Processes();
        qxsim::Notebook::Current().Files().Reset();
        qxsim::Notebook::Current().Files().AddFile(kProgram);
        processes.Reset();
        processes.SetScript([](const std::u16string& command_line) {
            qxsim::ProcessModel::Plan plan;
            plan.runs_ms = 0;
            const size_t at = command_line.rfind(u' ');
            for (size_t i = at + 1; i < command_line.size(); ++i)
                plan.exit_code = plan.exit_code * 10 + (command_line[i] - u'0');
            return plan;
        });
        std::string out = body();
        EXPECT_EQ(processes.OpenHandles(), 0) << "a handle left open";
        for (const auto& v : processes.Violations()) ADD_FAILURE() << v;
        return out;
    }
    std::u16string ExitingProgram() override { return kProgram; }
};

}  // namespace

ProgramRig& Rig() {
    static SimRig rig;
    return rig;
}

}  // namespace qxtest
