// Printing of binary-interface facts, one line each, as kmdf_abi.txt holds
// them: methods (table index and parameter sizes), callbacks, constants,
// sizes and offsets. Shared by the probe of our headers and the probe of
// MinGW's kernel headers.
#pragma once

#include <cstddef>
#include <cstdio>

namespace abiprobe {

template <class R, class... A>
void Parameters(const char* kind, const char* name, long long index, R (*)(A...)) {
    printf("%s %s", kind, name);
    if (index >= 0) printf(" %lld", index);
    ((printf(" %llu", static_cast<unsigned long long>(sizeof(A)))), ...);
    printf("\n");
}

}  // namespace abiprobe

#define QX_METHOD(name, pfn) \
    abiprobe::Parameters("method", #name, name##TableIndex, static_cast<pfn>(nullptr))
#define QX_CALLBACK(type) abiprobe::Parameters("callback", #type, -1, static_cast<type*>(nullptr))
#define QX_CONSTANT(name) printf("constant %s %lld\n", #name, static_cast<long long>(name))
#define QX_SIZE(type) printf("size %s %llu\n", #type, static_cast<unsigned long long>(sizeof(type)))
#define QX_OFFSET(type, field)                   \
    printf("offset %s %s %llu\n", #type, #field, \
           static_cast<unsigned long long>(offsetof(type, field)))
