// The readers of the token's SM2 answers over arbitrary bytes: the cipher form with its C2 length,
// the exported public key (SM2 or RSA with its bit length) and the two agreement answers. Nothing is
// read beyond the answer and nothing written beyond the blob sized for what the reader accepted
// (the sanitizers watch both); what is accepted always lies inside the answer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "skf/skf_ecc_blob.h"

namespace {

bool Inside(const uint8_t* p, size_t n, const std::vector<uint8_t>& answer) {
    return p >= answer.data() && p + n <= answer.data() + answer.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly the input's size, so that any over-read lands outside the allocation.
    const std::vector<uint8_t> answer(data, data + size);

    keycore::Sm2CipherView view;
    size_t formLen = 0;
    if (keycore::ReadSm2CipherForm(answer.data(), answer.size(), &view, &formLen)) {
        if (formLen > size || !Inside(view.c2, view.c2Len, answer) || !Inside(view.c3, 32, answer))
            std::abort();
        std::vector<uint8_t> blob(offsetof(ECCCIPHERBLOB, Cipher) + (view.c2Len == 0 ? 1 : view.c2Len));
        keycore::FillEccCipherBlob(view, reinterpret_cast<ECCCIPHERBLOB*>(blob.data()));
    }

    keycore::ExportedPublicKey key;
    if (keycore::ReadExportedPublicKey(answer.data(), answer.size(), &key)) {
        if (!key.sm2 && (!Inside(key.modulus, key.modulusLen, answer) || !Inside(key.exponent, 4, answer) ||
                         key.modulusLen > 256 || key.bits != key.modulusLen * 8))
            std::abort();
        std::vector<uint8_t> blob(keycore::PublicKeyBlobSize(key));
        keycore::FillPublicKeyBlob(key, blob.data());
    }

    const uint8_t* x = nullptr;
    const uint8_t* y = nullptr;
    uint32_t agreementId = 0;
    uint16_t keyIndex = 0;
    if (keycore::ReadAgreementData(answer.data(), answer.size(), &x, &y, &agreementId) &&
        (!Inside(x, 32, answer) || !Inside(y, 32, answer)))
        std::abort();
    if (keycore::ReadAgreementKey(answer.data(), answer.size(), &x, &y, &keyIndex) &&
        (!Inside(x, 32, answer) || !Inside(y, 32, answer)))
        std::abort();
    return 0;
}
