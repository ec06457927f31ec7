// DER headers arrive from token files and attribute values: myasn1_get_object must refuse or
// bound every input. The reader is applied repeatedly, descending into each content it accepts,
// and every accepted content must lie inside the bytes it was given.
#include <cstdint>
#include <cstdlib>

#include "crypto/myasn1.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const unsigned char* p = data;
    long remaining = static_cast<long>(size);
    for (int depth = 0; depth < 64; ++depth) {
        int cls = 0, constructed = 0, tag = 0;
        const unsigned char* content = nullptr;
        long contentLen = 0;
        long rc = myasn1_get_object(p, remaining, &cls, &constructed, &tag, &content, &contentLen);
        // The optional outputs must not change the answer.
        if (myasn1_get_object(p, remaining, nullptr, nullptr, nullptr, nullptr, nullptr) != rc)
            std::abort();
        if (rc < 0)
            return 0;
        if (rc != contentLen || content < p + 2 || content > p + remaining || rc > (p + remaining) - content)
            std::abort();
        if ((cls & ~0xC0) != 0 || (constructed & ~0x20) != 0 || tag < 0 || tag >= 0x1F)
            std::abort();
        if (rc > 0) {
            // Touch the whole content so a sanitizer sees any overrun.
            volatile unsigned char sink = content[0] ^ content[rc - 1];
            (void)sink;
        }
        p = content;
        remaining = rc;
    }
    return 0;
}
