// The certificate import's recognition of key pairs over arbitrary caller bytes: never a read beyond
// the input (the sanitizers watch), and a recognised RSA key always has a modulus inside the input.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "skf/skf_cert_payload.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly the input's size, so that any over-read lands outside the allocation.
    std::vector<unsigned char> bytes(data, data + size);
    uint32_t bits = 0;
    const keycore::CertPayload kind = keycore::ClassifyCertPayload(bytes.data(), bytes.size(), &bits);
    if (kind == keycore::CertPayload::RsaKeyPair && (bits == 0 || bits % 8 != 0 || bits / 8 > size))
        std::abort();
    if (kind == keycore::CertPayload::EccKeyPair && (size != 97 || bytes[0] != 0x04))
        std::abort();
    return 0;
}
