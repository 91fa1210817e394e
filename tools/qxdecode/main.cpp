// qxdecode: decodes controller frames given as hex text.
//
//   qxdecode 0C07014...7E        the arguments, joined
//   some-capture | qxdecode      standard input when there are no arguments
//   qxdecode --sigrok [--address HEX] [FILE|-]
//                                sigrok-cli's I2C annotations (sigrok_text.h)
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

// An I2C address as sigrok prints it: hex, 7 or 10 bits; 0x is allowed.
bool ParseAddress(const char* text, int* address) {
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
    int v = 0;
    size_t digits = 0;
    for (; text[digits] != '\0'; ++digits) {
        const int d = qxdecode::HexDigitValue(text[digits]);
        if (d < 0 || digits == 3) return false;
        v = v << 4 | d;
    }
    if (digits == 0 || v > 0x3FF) return false;
    *address = v;
    return true;
}

// qxdecode --sigrok [FILE]: the annotations from a file or standard input.
int RunSigrok(const char* path, int address) {
    FILE* in = path != nullptr ? fopen(path, "rb") : stdin;
    if (in == nullptr) {
        fprintf(stderr, "qxdecode: cannot open %s\n", qxtools::Escaped(path).c_str());
        return qxdecode::kBadInput;
    }
    qxdecode::SigrokStream stream(address);
    const std::string name = path != nullptr ? qxtools::Escaped(path) : "standard input";
    int rc = DecodeLines(in, name.c_str(), stream);
    if (in != stdin) fclose(in);
    return rc;
}

// --sigrok [--address HEX] [FILE|-], in any order.
int SigrokCommand(int argc, char** argv) {
    const char* path = nullptr;
    bool have_input = false;
    int address = qxdecode::kAnyAddress;
    for (int i = 2; i < argc; ++i) {
        if (strcmp(argv[i], "--address") == 0) {
            if (i + 1 >= argc || !ParseAddress(argv[i + 1], &address)) {
                fputs("qxdecode: --address needs the controller's I2C address in hex (2C)\n",
                      stderr);
                return qxdecode::kBadInput;
            }
            ++i;
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            fprintf(stderr, "qxdecode: unknown option %s\n", qxtools::Escaped(argv[i]).c_str());
            return qxdecode::kBadInput;
        } else if (have_input) {
            fputs("qxdecode: --sigrok takes at most one file\n", stderr);
            return qxdecode::kBadInput;
        } else {
            have_input = true;
            if (strcmp(argv[i], "-") != 0) path = argv[i];
        }
    }
    return RunSigrok(path, address);
}

}  // namespace

int main(int argc, char** argv) {
    std::string text;
    if (argc > 1) {
        if (strcmp(argv[1], "-h") == 0 || strcmp(argv[1], "--help") == 0) {
            fputs(
                "usage: qxdecode [HEX...]\n"
                "       qxdecode --sigrok [--address HEX] [FILE|-]\n"
                "Decodes antenna-controller frames given as hex bytes (spaces optional),\n"
                "from the arguments or, when there are none, from standard input.\n"
                "--sigrok reads sigrok-cli's I2C annotations instead (from FILE, or standard\n"
                "input when there is none or it is -):\n"
                "  sigrok-cli -i CAPTURE -P i2c:scl=CH:sda=CH\n"
                "    -A i2c=address-read:address-write:data-read:data-write:stop\n"
                "    | qxdecode --sigrok\n"
                "--address HEX: only that address is the controller; the other devices on the\n"
                "bus are listed, not decoded, and do not count in the exit code.\n"
                "Exit code: 0 all frames good, 1 a frame was bad, 2 the input was not usable.\n",
                stdout);
            return 0;
        }
        if (strcmp(argv[1], "--sigrok") == 0) return SigrokCommand(argc, argv);
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
