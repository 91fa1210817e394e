// Command-line option scanning with the POSIX getopt rules, without globals
// and without diagnostics. The C libraries' getopt differs between glibc
// (argument permutation, POSIXLY_CORRECT) and MinGW, so the daemon uses this one.
#pragma once

namespace qx {

struct OptionScanner {
    int argc;
    char* const* argv;
    const char* optstring;      // letters; a letter followed by ':' takes an argument
    int index = 1;              // next argument to look at (optind)
    int offset = 0;             // position inside a group of letters; 0: start a new argument
    const char* arg = nullptr;  // the argument of the option just returned (optarg)
    int letter = 0;             // the letter just examined (optopt)
};

constexpr int kOptionsEnd = -1;
constexpr int kOptionError = '?';

// Returns the next option letter, kOptionError for a letter outside the option
// string or a missing argument, kOptionsEnd at the first non-option, after "--"
// or at the end of the line.
int NextOption(OptionScanner& scanner);

}  // namespace qx
