// The held-back bytes of the streaming cipher and MAC calls under any sequence of update sizes: the
// first byte chooses padding, the next bytes the update sizes, the rest is the message. Whatever the
// cut, the updates and the final must give exactly the padded message, and decryption must give it
// back.
#include "skf/skf_cipher_blocks.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

void Check(bool ok) {
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const bool padding = (data[0] & 1) != 0;
    const size_t cutCount = data[1] % 8 + 1;
    if (size < 2 + cutCount)
        return 0;
    const uint8_t* cuts = data + 2;
    Bytes message(data + 2 + cutCount, data + size);
    if (!padding)
        message.resize(message.size() - message.size() % keycore::kCipherBlock);

    // Encryption.
    Bytes pending;
    Bytes sent;
    size_t offset = 0;
    for (size_t i = 0; offset < message.size(); i = (i + 1) % cutCount) {
        size_t n = std::min<size_t>(message.size() - offset, cuts[i] % 40 + 1);
        keycore::BlockPlan plan;
        if (keycore::PlanEncryptUpdate(pending, message.data() + offset, n, padding, &plan) != SAR_OK) {
            // Only a short update without padding is refused; it changes nothing, and the caller goes
            // on with the rest of the message.
            Check(!padding && keycore::HeldBackDataLength(pending, false) + n < keycore::kCipherBlock);
            n = message.size() - offset;
            Check(keycore::PlanEncryptUpdate(pending, message.data() + offset, n, padding, &plan) == SAR_OK);
        }
        Check(plan.send.size() == keycore::EncryptUpdateLength(pending, n, padding));
        Check(plan.send.size() % keycore::kCipherBlock == 0);
        sent.insert(sent.end(), plan.send.begin(), plan.send.end());
        pending = plan.keep;
        offset += n;
    }
    const Bytes last = keycore::EncryptFinalBlock(pending, padding);
    sent.insert(sent.end(), last.begin(), last.end());
    Bytes padded = message;
    if (padding) {
        const size_t pad = keycore::kCipherBlock - message.size() % keycore::kCipherBlock;
        padded.insert(padded.end(), pad, static_cast<unsigned char>(pad));
    }
    Check(sent == padded);

    // Decryption of the padded message, cut the same way.
    pending.clear();
    Bytes plain;
    offset = 0;
    for (size_t i = 0; offset < padded.size(); i = (i + 1) % cutCount) {
        size_t n = std::min<size_t>(padded.size() - offset, cuts[i] % 40 + 1);
        if (!padding && pending.size() + n < keycore::kCipherBlock)
            n = padded.size() - offset;
        keycore::BlockPlan plan;
        Check(keycore::PlanDecryptUpdate(pending, padded.data() + offset, n, padding, &plan) == SAR_OK);
        Check(plan.keep.size() <= keycore::kCipherBlock);
        plain.insert(plain.end(), plan.send.begin(), plan.send.end());
        pending = plan.keep;
        offset += n;
    }
    const size_t keep = padding ? keycore::UnpaddedLength(pending.data(), pending.size()) : pending.size();
    plain.insert(plain.end(), pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(keep));
    Check(plain == message);

    // MAC blocks.
    pending.clear();
    sent.clear();
    offset = 0;
    for (size_t i = 0; offset < message.size(); i = (i + 1) % cutCount) {
        const size_t n = std::min<size_t>(message.size() - offset, cuts[i] % 40 + 1);
        keycore::BlockPlan plan;
        keycore::PlanMacUpdate(pending, message.data() + offset, n, &plan);
        Check(plan.keep.size() < keycore::kCipherBlock);
        sent.insert(sent.end(), plan.send.begin(), plan.send.end());
        pending = plan.keep;
        offset += n;
    }
    const Bytes macLast = keycore::MacFinalBlock(pending);
    sent.insert(sent.end(), macLast.begin(), macLast.end());
    Check(sent.size() % keycore::kCipherBlock == 0 && sent.size() >= message.size());
    Check(Bytes(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(message.size())) == message);
    return 0;
}
