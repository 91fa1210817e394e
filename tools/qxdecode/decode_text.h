// qxdecode's work, apart from its command line so that tests can call it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qxdecode {

// Exit codes of the tool.
constexpr int kAllGood = 0;
constexpr int kBadFrame = 1;  // a frame did not decode or its checksum did not match
constexpr int kBadInput = 2;  // not hex text, odd digit count, nothing to decode, usage

// Parses hex text (whitespace anywhere, an optional 0x before a pair), splits
// the bytes into frames and describes every record. The description goes to
// *out, problems to *err; returns one of the exit codes above.
int DecodeText(const std::string& text, std::string* out, std::string* err);

// The same for bytes already read (a bus transaction): frames numbered from 1.
int DecodeBytes(const std::vector<uint8_t>& bytes, std::string* out, std::string* err);

// Bytes as the descriptions show them: "7E 81 5D".
std::string HexText(const uint8_t* bytes, size_t count);

// The value of one hex digit, or -1.
int HexDigitValue(char c);

// The same for a stream, line by line as it arrives (a live capture piped in):
// the bytes of each line join those before, and every run of them that ends
// with a frame's end flag is decoded at once. A line that is not hex is
// reported with its number and passed over. Frames are numbered through the
// whole stream.
class HexStream {
  public:
    // One line without its line end; what is complete goes to *out and *err.
    void Line(const std::string& line, std::string* out, std::string* err);
    // The end of the input: decodes what is left; returns the exit code.
    int Finish(std::string* out, std::string* err);

  private:
    void Decode(std::string* out, std::string* err);
    std::vector<uint8_t> pending_;
    int line_number_ = 0;
    int frames_ = 0;
    int result_ = kAllGood;
};

}  // namespace qxdecode
