// The rules a model's callers broke, as the real thing would have punished
// them (a closed handle used, a library called after it was freed): each is
// reported on standard error at once, under the model's name, and kept for
// the test to read. Not locked: its model guards it with its own lock.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace qxsim {

class ViolationLog {
  public:
    explicit ViolationLog(const char* model) : model_(model) {}

    void Add(std::string what) {
        std::fprintf(stderr, "qxsim: %s: %s\n", model_, what.c_str());
        list_.push_back(std::move(what));
    }
    const std::vector<std::string>& List() const { return list_; }
    void Clear() { list_.clear(); }

  private:
    const char* model_;
    std::vector<std::string> list_;
};

}  // namespace qxsim
