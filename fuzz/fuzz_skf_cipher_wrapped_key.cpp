// The wrapped session key a caller hands to SKF_ImportSessionKey: any bytes are either passed on as
// they are or turned into the token's 120-byte SM2 form, never read past their end.
#include "skf/skf_session_key_wrap.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly the input's size, so that the sanitizer sees any read past it.
    std::vector<unsigned char> input(data, data + size);
    std::vector<unsigned char> out;
    const ULONG rv = keycore::WrappedKeyForToken(input.data(), input.size(), &out);
    if (rv == SAR_OK) {
        if (out != input && out.size() != 120)
            std::abort();
    } else if (rv != SAR_INDATALENERR || !out.empty()) {
        std::abort();
    }
    return 0;
}
