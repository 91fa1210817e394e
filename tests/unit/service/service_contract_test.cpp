// The service host's OS seam's one contract: what the service relies on for
// its stop, its daemon and the daemon's job, the same on every half.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>

#include "service/os_service.h"
#include "tests/unit/service/service_contract.h"

namespace qxtest {
namespace {

using namespace qx::os;

// Long enough for a real child to start, end or be gone.
constexpr uint32_t kLongMs = 10000;

using UniqueStop = std::unique_ptr<StopEvent, void (*)(StopEvent*)>;

UniqueStop NewStop() {
    uint32_t error = 0;
    return UniqueStop(StopEventCreate(&error), StopEventClose);
}

UniqueJob NewJob() {
    uint32_t error = 0;
    return UniqueJob(JobCreateKillOnClose(&error));
}

UniqueChild NewChild(ServiceRig& rig, int exit_code) {
    uint32_t error = 0;
    return UniqueChild(
        ChildCreateSuspended(rig.Program().c_str(), rig.CommandLine(exit_code).c_str(), &error));
}

std::string Wait(StopEvent* stop, ChildProcess* child, uint32_t ms) {
    uint32_t error = 0;
    return std::to_string(WaitStopOrChild(stop, child, ms, &error));
}

std::string Resume(ChildProcess* child) {
    uint32_t error = 0;
    return ChildResume(child, &error) ? "" : "resume failed " + std::to_string(error);
}

std::string Gone(ChildProcess* child, uint32_t ms) {
    return ChildWait(child, ms) ? "gone" : "running";
}

// Ends a child a row leaves running.
void End(ChildProcess* child) {
    ChildTerminate(child, 0);
    ChildWait(child, kLongMs);
}

bool g_main_ran = false;
void MainEntry() {
    g_main_ran = true;
}

TEST(ServiceContractTest, EachHalfAnswersAsWindows) {
    ServiceRig& rig = Rig();
    struct Case {
        const char* name;
        std::function<std::string()> body;
        const char* want;
    } cases[] = {
        {"the stop event starts clear and is seen once set",
         [&rig] {
             UniqueStop stop = NewStop();
             UniqueChild child = NewChild(rig, -1);
             std::string out = Wait(stop.get(), child.get(), 0) + " ";
             StopEventSet(stop.get());
             out += Wait(stop.get(), child.get(), 0);
             End(child.get());
             return out;
         },
         "258 0"},
        {"both signalled, the stop event is answered",
         [&rig] {
             UniqueStop stop = NewStop();
             UniqueChild child = NewChild(rig, 0);
             std::string out = Resume(child.get());
             out += Gone(child.get(), kLongMs) + " ";
             StopEventSet(stop.get());
             return out + Wait(stop.get(), child.get(), 0);
         },
         "gone 0"},
        {"created suspended, a child that would end at once has run nothing",
         [&rig] {
             UniqueStop stop = NewStop();
             UniqueChild child = NewChild(rig, 1067);
             std::string out = Wait(stop.get(), child.get(), 300) + " ";
             out += std::string(rig.Ran(0) ? "ran" : "not run") + " ";
             out += Resume(child.get());
             out += Wait(stop.get(), child.get(), kLongMs) + " ";
             out += std::string(rig.Ran(0) ? "ran" : "not run") + " ";
             return out + "exit " + std::to_string(rig.ExitCode());
         },
         "258 not run 1 ran exit 1067"},
        {"the program by its full path only: a bare name is not searched",
         [&rig] {
             uint32_t error = 0;
             UniqueChild child(ChildCreateSuspended(rig.ProgramName().c_str(),
                                                    rig.CommandLine(0).c_str(), &error));
             return std::string(child ? "started " : "") + std::to_string(error) + " " +
                    std::to_string(LastError());
         },
         "2 2"},
        {"terminated, it is gone once waited for, with the code it was given",
         [&rig] {
             UniqueStop stop = NewStop();
             UniqueChild child = NewChild(rig, -1);
             std::string out = Resume(child.get());
             out += rig.Ran(kLongMs) ? "ran " : "not run ";
             out += Gone(child.get(), 100) + " ";
             ChildTerminate(child.get(), 1066);
             out += Gone(child.get(), kLongMs) + " ";
             out += Wait(stop.get(), child.get(), 0) + " ";
             return out + "exit " + std::to_string(rig.ExitCode());
         },
         "ran running gone 1 exit 1066"},
        {"in a kill-on-close job, a running child ends with the job's last handle",
         [&rig] {
             UniqueStop stop = NewStop();
             UniqueJob job = NewJob();
             UniqueChild child = NewChild(rig, -1);
             uint32_t error = 0;
             std::string out = ChildAssignToJob(child.get(), job.get(), &error) ? "" : "no job ";
             out += Resume(child.get());
             out += rig.Ran(kLongMs) ? "ran " : "not run ";
             out += Gone(child.get(), 100) + " ";
             job.reset();
             out += Gone(child.get(), kLongMs) + " ";
             return out + Wait(stop.get(), child.get(), 0);
         },
         "ran running gone 1"},
        {"in a kill-on-close job, a suspended child ends with it, never having run",
         [&rig] {
             UniqueJob job = NewJob();
             UniqueChild child = NewChild(rig, -1);
             uint32_t error = 0;
             std::string out = ChildAssignToJob(child.get(), job.get(), &error) ? "" : "no job ";
             job.reset();
             out += Gone(child.get(), kLongMs) + " ";
             return out + (rig.Ran(300) ? "ran" : "not run");
         },
         "gone not run"},
        {"outside the job, a child outlives it",
         [&rig] {
             UniqueJob job = NewJob();
             UniqueChild child = NewChild(rig, -1);
             std::string out = Resume(child.get());
             out += rig.Ran(kLongMs) ? "ran " : "not run ";
             job.reset();
             out += Gone(child.get(), 300);
             End(child.get());
             return out;
         },
         "ran running"},
        {"the dispatcher outside the service manager",
         [] {
             g_main_ran = false;
             uint32_t error = 0;
             const bool ok = ServiceRunDispatcher(u"QuellixContract", MainEntry, &error);
             return std::string(ok ? "connected " : "") + std::to_string(error) + " " +
                    std::to_string(LastError()) + (g_main_ran ? " main ran" : "");
         },
         "1063 1063"},
        {"the module path fits with a unit to spare; a unit short, the capacity comes back",
         [] {
             char16_t full[300] = {};
             const size_t n = ModulePath(full, 300);
             if (n == 0 || n >= 300) return "no path: " + std::to_string(n);
             char16_t exact[300] = {};
             std::string out =
                 ModulePath(exact, n + 1) == n && std::equal(full, full + n + 1, exact)
                     ? "fits "
                     : "does not fit ";
             char16_t cut[300];
             const size_t r = ModulePath(cut, n);
             out += r == n ? "capacity " : std::to_string(r) + " ";
             return out + std::to_string(LastError());
         },
         "fits capacity 122"},
        {kCutPathRow,
         [] {
             char16_t full[300] = {};
             const size_t n = ModulePath(full, 300);
             char16_t cut[300];
             std::fill(cut, cut + 300, u'x');
             if (n < 2 || ModulePath(cut, n) != n) return std::string("not cut");
             std::string out = std::equal(full, full + n - 1, cut) ? "its start" : "other";
             return out + (cut[n - 1] == 0 ? " terminated" : " unterminated");
         },
         "its start terminated"},
    };
    for (const auto& c : cases) {
        if (rig.LeavesOut(c.name)) continue;
        EXPECT_EQ(rig.Run(c.body), c.want) << c.name;
    }
}

}  // namespace
}  // namespace qxtest
