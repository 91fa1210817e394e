// qxdecode: decodes controller frames given as hex text.
//
//   qxdecode 0C07014...7E        the arguments, joined
//   some-capture | qxdecode      standard input when there are no arguments
//   qxdecode --sigrok [FILE]     sigrok-cli's I2C annotations (sigrok_text.h)
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/escape_text.h"
#include "tools/qxdecode/decode_text.h"
#include "tools/qxdecode/sigrok_text.h"

namespace {

// A line longer than this is no capture text (a binary file, /dev/zero):
// reading stops there, so that nothing unbounded is ever held.
constexpr size_t kMaxLineBytes = 65536;

void Emit(std::string* out, std::string* err) {
    if (!out->empty()) {
        fputs(out->c_str(), stdout);
        fflush(stdout);
        out->clear();
    }
    if (!err->empty()) {
        fputs(err->c_str(), stderr);
        err->clear();
    }
}

// Feeds `in` to the stream line by line, printing what each line completes.
template <typename Stream>
int DecodeLines(FILE* in, const char* name, Stream& stream) {
    std::string out, err, line;
    bool too_long = false;
    int line_number = 0;
    // Byte by byte: stdio hands over what a pipe has as soon as it has it
    // (fread would wait for a full buffer), and zero bytes stay in the line.
    for (int c; (c = getc_unlocked(in)) != EOF;) {
        if (c != '\n') {
            line.push_back(static_cast<char>(c));
            if (line.size() > kMaxLineBytes) {
                too_long = true;
                break;
            }
            continue;
        }
        ++line_number;
        stream.Line(line, &out, &err);
        Emit(&out, &err);
        line.clear();
    }
    if (too_long) {
        fprintf(stderr,
                "qxdecode: line %d of %s is longer than %zu bytes: not text; reading stops here\n",
                line_number + 1, name, kMaxLineBytes);
    } else if (!line.empty()) {
        stream.Line(line, &out, &err);  // a last line without its line end
    }
    const bool failed = ferror(in) != 0;
    int rc = stream.Finish(&out, &err);
    Emit(&out, &err);
    if (failed) {
        fprintf(stderr, "qxdecode: cannot read %s\n", name);
        rc = qxdecode::kBadInput;
    }
    return too_long ? qxdecode::kBadInput : rc;
}

// qxdecode --sigrok [FILE]: the annotations from a file or standard input.
int RunSigrok(const char* path) {
    FILE* in = path != nullptr ? fopen(path, "rb") : stdin;
    if (in == nullptr) {
        fprintf(stderr, "qxdecode: cannot open %s\n", qxtools::Escaped(path).c_str());
        return qxdecode::kBadInput;
    }
    qxdecode::SigrokStream stream;
    const std::string name = path != nullptr ? qxtools::Escaped(path) : "standard input";
    int rc = DecodeLines(in, name.c_str(), stream);
    if (in != stdin) fclose(in);
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
        qxdecode::HexStream stream;
        return DecodeLines(stdin, "standard input", stream);
    }
    std::string out, err;
    int rc = qxdecode::DecodeText(text, &out, &err);
    fputs(out.c_str(), stdout);
    fflush(stdout);
    fputs(err.c_str(), stderr);
    return rc;
}
