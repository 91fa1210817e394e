// The program seam's contract (uninstall/os_program.h) as the uninstaller
// builds on it, run against each half through a rig that provides a program
// to run: the notebook's file and process models (_sim) and, under Wine, the
// prefix's own cmd.exe (_win32). Each rig is one file beside this one.
#pragma once

#include <functional>
#include <string>

namespace qxtest {

class ProgramRig {
  public:
    virtual ~ProgramRig() = default;
    // Runs body and checks that it left no child or handle behind; returns
    // what body returned.
    virtual std::string Run(const std::function<std::string()>& body) = 0;
    // The full path of a program in the system folder that ends at once
    // with the code N its command line names as "/c exit N".
    virtual std::u16string ExitingProgram() = 0;
};

// The half linked into this test.
ProgramRig& Rig();

}  // namespace qxtest
