// The virtual token's image parser on arbitrary bytes. The image ends with a SHA-256 digest of
// what precedes it; the digest is appended here so that the fuzzer reaches the parser proper.
#include <openssl/sha.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vtoken/applet/image_store.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    uint8_t digest[SHA256_DIGEST_LENGTH];
    SHA256(bytes.data(), bytes.size(), digest);
    bytes.insert(bytes.end(), digest, digest + sizeof digest);

    vtoken::TokenImage image;
    std::string error;
    if (vtoken::ParseImage(bytes, &image, &error)) {
        // What parses must serialise back to an image that parses to the same bytes.
        std::vector<uint8_t> again = vtoken::SerializeImage(image);
        vtoken::TokenImage second;
        if (!vtoken::ParseImage(again, &second, &error) || vtoken::SerializeImage(second) != again)
            __builtin_trap();
    }
    return 0;
}
