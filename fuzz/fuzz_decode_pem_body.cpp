// DecodePemBody over arbitrary bytes: certificates and keys come from files and tokens we do not control.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "runtime/pem_body.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    // Room for any body, then room cut to a size chosen by the input to reach the capacity check.
    const size_t capacities[] = {size, size == 0 ? 0 : data[0] % (size + 1)};
    for (size_t capacity : capacities) {
        std::vector<unsigned char> output(capacity);
        long result = keycore::DecodePemBody(text, size, output.data(), capacity);
        if (result < -1 || (result > 0 && static_cast<size_t>(result) > capacity))
            std::abort();
    }
    return 0;
}
