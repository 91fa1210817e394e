// The contract's rig on the virtual notebook (os_process_sim.cpp): each row in
// a forked child, its output the notebook's console. A forked child's exit
// status keeps 8 bits only, so the notebook's kernel tells the whole code
// through an exit hook on a line of its own.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "sim/notebook.h"
#include "sim/vkernel.h"
#include "tests/support/child_process.h"
#include "tests/unit/daemon/base/process_contract.h"

namespace qxtest {
namespace {

constexpr char kExitLine[] = "\n[exit ";

class SimRig : public ProcessRig {
  public:
    Ended RunAlone(int, const std::function<void()>& body) override {
        ChildResult r = RunInChild([&] {
            qxsim::Notebook::Current().Kernel().AddExitHook(
                [](uint32_t code) { Print("%s%u]", kExitLine, code); });
            body();
        });
        Ended e;
        e.out = r.out;
        const size_t at = r.out.rfind(kExitLine);
        if (at != std::string::npos) {
            e.exit_code = static_cast<uint32_t>(std::strtoul(r.out.c_str() + at + 7, nullptr, 10));
            e.out.erase(at);
            if ((e.exit_code & 0xFF) != static_cast<uint32_t>(r.exit_code))
                ADD_FAILURE() << "the child ended with " << r.exit_code;
        } else if (r.exit_code != 0) {
            e.exit_code = static_cast<uint32_t>(r.exit_code);
        }
        return e;
    }
};

}  // namespace

ProcessRig& Rig() {
    static SimRig rig;
    return rig;
}

int ChildRow() {
    return -1;
}

}  // namespace qxtest
