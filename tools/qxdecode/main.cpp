// qxdecode: decodes controller frames given as hex text.
//
//   qxdecode 0C07014...7E        the arguments, joined
//   some-capture | qxdecode      standard input when there are no arguments
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/qxdecode/decode_text.h"

int main(int argc, char** argv) {
    std::string text;
    if (argc > 1) {
        if (strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "--help") == 0) {
            fputs(
                "usage: qxdecode [HEX...]\n"
                "Decodes antenna-controller frames given as hex bytes (spaces optional),\n"
                "from the arguments or, when there are none, from standard input.\n"
                "Exit code: 0 all frames good, 1 a frame was bad, 2 the input was not usable.\n",
                stdout);
            return 0;
        }
        for (int i = 1; i < argc; ++i) {
            text += argv[i];
            text += ' ';
        }
    } else {
        char chunk[4096];
        size_t n;
        while ((n = fread(chunk, 1, sizeof chunk, stdin)) > 0) text.append(chunk, n);
        if (ferror(stdin)) {
            fputs("qxdecode: cannot read standard input\n", stderr);
            return qxdecode::kBadInput;
        }
    }
    std::string out, err;
    int rc = qxdecode::DecodeText(text, &out, &err);
    fputs(out.c_str(), stdout);
    fflush(stdout);
    fputs(err.c_str(), stderr);
    return rc;
}
