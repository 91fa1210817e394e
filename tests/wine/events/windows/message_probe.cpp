// message_probe.exe MODULE ID [INSERT...]: formats message ID from MODULE's
// message table with the inserts, as Event Viewer does for an event, and
// prints "ID: [text]" in UTF-8; "ID: error N" when the table has no such
// message. Exit code 0 when the message was found, 1 when not.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: message_probe MODULE ID [INSERT...]\n");
        return 2;
    }
    // As a data file: the program's code is neither run nor bound.
    HMODULE module = ::LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) {
        std::printf("cannot load: error %lu\n", ::GetLastError());
        return 1;
    }
    DWORD id = std::wcstoul(argv[2], nullptr, 0);
    std::vector<DWORD_PTR> inserts;
    for (int i = 3; i < argc; ++i) inserts.push_back(reinterpret_cast<DWORD_PTR>(argv[i]));
    inserts.push_back(0);
    wchar_t* text = nullptr;
    DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                   FORMAT_MESSAGE_ARGUMENT_ARRAY,
                               module, id, 0, reinterpret_cast<wchar_t*>(&text), 0,
                               reinterpret_cast<va_list*>(inserts.data()));
    int rc = 0;
    if (n == 0) {
        std::printf("0x%08lX: error %lu\n", id, ::GetLastError());
        rc = 1;
    } else {
        int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0,
                                          nullptr, nullptr);
        std::vector<char> utf8(static_cast<size_t>(bytes) + 1);
        ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), utf8.data(), bytes, nullptr,
                              nullptr);
        std::printf("0x%08lX: [%s]\n", id, utf8.data());
        ::LocalFree(text);
    }
    ::FreeLibrary(module);
    return rc;
}
