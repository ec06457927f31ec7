// The RSA functions' readers of token answers over arbitrary bytes: the first two bytes choose the key
// size, the rest is the answer. Never a read beyond the answer (the sanitizers watch); a blob is
// written only from an answer of an acceptable length, and then with zero bytes in front of every number.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "skf/skf_rsa_blob.h"
#include "skf/skf_rsa_padding.h"

namespace {

bool ZeroInFront(const BYTE* field, size_t fieldLen, size_t numberLen) {
    for (size_t i = 0; i + numberLen < fieldLen; ++i) {
        if (field[i] != 0)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const ULONG bits = static_cast<ULONG>(data[0] << 8 | data[1]) * 8;
    // A copy of exactly the answer's size, so that any over-read lands outside the allocation.
    const std::vector<uint8_t> answer(data + 2, data + size);
    const size_t k = bits / 8;

    RSAPUBLICKEYBLOB pub;
    if (keycore::rsa_blob::PublicBlobFromAnswer(answer.data(), answer.size(), bits, &pub)) {
        if (answer.size() < k + 4 || pub.BitLen != bits || !ZeroInFront(pub.Modulus, sizeof pub.Modulus, k))
            std::abort();
    }
    RSAPRIVATEKEYBLOB pri;
    if (keycore::rsa_blob::PrivateBlobFromAnswer(answer.data(), answer.size(), bits, &pri)) {
        if (answer.size() != 2 * k + 4 + 5 * (k / 2) || !ZeroInFront(pri.Coefficient, sizeof pri.Coefficient, k / 2))
            std::abort();
    }
    uint16_t index = 0;
    if (k != 0 && keycore::rsa_blob::SplitSessionKeyAnswer(answer.data(), answer.size(), k, &index) &&
        answer.size() != k + 2)
        std::abort();

    // The verification's reading of a recovered block against data taken from its own tail.
    if (!answer.empty()) {
        const size_t dataLen = data[0] % (answer.size() + 1);
        keycore::rsa_padding::IsSignatureBlockOf(answer.data(), answer.size(), answer.data() + answer.size() - dataLen,
                                                 dataLen);
    }
    return 0;
}
