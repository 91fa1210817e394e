// qxdecode: decodes controller frames given as hex text.
//
//   qxdecode 0C07014...7E        the arguments, joined
//   some-capture | qxdecode      standard input when there are no arguments
//   qxdecode --sigrok [FILE]     sigrok-cli's I2C annotations (sigrok_text.h)
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/qxdecode/decode_text.h"
#include "tools/qxdecode/sigrok_text.h"

namespace {

// qxdecode --sigrok [FILE]: the annotations from a file or standard input.
int RunSigrok(const char* path) {
    FILE* in = path != nullptr ? fopen(path, "rb") : stdin;
    if (in == nullptr) {
        fprintf(stderr, "qxdecode: cannot open %s\n", path);
        return qxdecode::kBadInput;
    }
    std::string text;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, in)) > 0) text.append(chunk, n);
    bool failed = ferror(in) != 0;
    if (in != stdin) fclose(in);
    if (failed) {
        fprintf(stderr, "qxdecode: cannot read %s\n", path != nullptr ? path : "standard input");
        return qxdecode::kBadInput;
    }
    std::string out, err;
    int rc = qxdecode::DecodeSigrok(text, &out, &err);
    fputs(out.c_str(), stdout);
    fflush(stdout);
    fputs(err.c_str(), stderr);
    return rc;
}

}  // namespace

int main(int argc, char** argv) {
    std::string text;
    if (argc > 1) {
        if (strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "--help") == 0) {
            fputs(
                "usage: qxdecode [HEX...]\n"
                "       qxdecode --sigrok [FILE]\n"
                "Decodes antenna-controller frames given as hex bytes (spaces optional),\n"
                "from the arguments or, when there are none, from standard input.\n"
                "--sigrok reads sigrok-cli's I2C annotations instead (from FILE or standard\n"
                "input): sigrok-cli -i CAPTURE -P i2c:scl=CH:sda=CH\n"
                "  -A i2c=address-read:address-write:data-read:data-write | qxdecode --sigrok\n"
                "Exit code: 0 all frames good, 1 a frame was bad, 2 the input was not usable.\n",
                stdout);
            return 0;
        }
        if (strcmp(argv[1], "--sigrok") == 0) {
            if (argc > 3) {
                fputs("qxdecode: --sigrok takes at most one file\n", stderr);
                return qxdecode::kBadInput;
            }
            return RunSigrok(argc == 3 ? argv[2] : nullptr);
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
