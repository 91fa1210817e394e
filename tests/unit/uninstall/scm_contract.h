// The service manager seam's contract (uninstall/os_scm.h) as the
// uninstaller builds on it, run against each half through a rig that
// installs the one service it needs: the notebook's service manager model
// (_sim) and, under Wine, the real service manager with our service host
// (_win32). Each rig is one file beside this one.
#pragma once

#include <functional>
#include <string>

namespace qxtest {

class ScmRig {
  public:
    virtual ~ScmRig() = default;
    // Runs body with no service named kScmService, and takes it away again
    // (stopped and deleted) when body left one; returns what body returned.
    virtual std::string Run(const std::function<std::string()>& body) = 0;
    // Installs kScmService as an own-process, demand-start service, and
    // starts it when `running` (it is then RUNNING and accepts the stop).
    virtual void AddService(bool running) = 0;
};

// The test's service.
constexpr const char16_t* kScmService = u"QuellixContract";

// The half linked into this test.
ScmRig& Rig();

}  // namespace qxtest
