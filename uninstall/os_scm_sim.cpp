#include "sim/scm_model.h"
#include "sim/vkernel.h"
#include "uninstall/os_scm.h"
#include "sim/notebook.h"

namespace qx::os {

namespace {

qxsim::ScmModel& Scm() {
    return qxsim::Notebook::Current().Scm();
}

uintptr_t Raw(ScmHandle handle) {
    return reinterpret_cast<uintptr_t>(handle);
}

}  // namespace

void ScmClose(ScmHandle handle) {
    Scm().CloseHandle(Raw(handle));
}

ScmOwner ScmOpenManager(uint32_t* error) {
    return ScmOwner(reinterpret_cast<ScmHandle>(Scm().OpenManager(error)));
}

ScmOwner ScmOpenService(ScmHandle manager, const char16_t* name, uint32_t access, uint32_t* error) {
    return ScmOwner(
        reinterpret_cast<ScmHandle>(Scm().OpenService(Raw(manager), name, access, error)));
}

uint32_t ScmStopService(ScmHandle service) {
    return Scm().ControlStop(Raw(service));
}

uint32_t ScmQueryState(ScmHandle service, uint32_t* state) {
    return Scm().QueryState(Raw(service), state);
}

uint32_t ScmDeleteService(ScmHandle service) {
    return Scm().DeleteService(Raw(service));
}

void ScmSleepMs(uint32_t ms) {
    qxsim::Notebook::Current().Kernel().Sleep(ms);
}

}  // namespace qx::os
