// qxdecode's work, apart from its command line so that tests can call it.
#pragma once

#include <string>

namespace qxdecode {

// Exit codes of the tool.
constexpr int kAllGood = 0;
constexpr int kBadFrame = 1;  // a frame did not decode or its checksum did not match
constexpr int kBadInput = 2;  // not hex text, odd digit count, nothing to decode, usage

// Parses hex text (whitespace anywhere, an optional 0x before a pair), splits
// the bytes into frames and describes every record. The description goes to
// *out, problems to *err; returns one of the exit codes above.
int DecodeText(const std::string& text, std::string* out, std::string* err);

}  // namespace qxdecode
