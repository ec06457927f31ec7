#include "skf/skf_cipher_blocks.h"

#include "runtime/secure_wipe.h"

namespace keycore {

namespace {

std::vector<unsigned char> Joined(const std::vector<unsigned char>& pending, size_t pendingLen,
                                  const unsigned char* data, size_t dataLen) {
    std::vector<unsigned char> all;
    all.reserve(pendingLen + dataLen);
    all.insert(all.end(), pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(pendingLen));
    if (dataLen != 0)
        all.insert(all.end(), data, data + dataLen);
    return all;
}

void Split(std::vector<unsigned char>& all, size_t sendLen, BlockPlan* plan) {
    plan->send.assign(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(sendLen));
    plan->keep.assign(all.begin() + static_cast<std::ptrdiff_t>(sendLen), all.end());
    SecureWipe(all);
}

size_t WholeBlocks(size_t len) {
    return len - len % kCipherBlock;
}

} // namespace

BlockPlan::~BlockPlan() {
    SecureWipe(send);
    SecureWipe(keep);
}

size_t HeldBackDataLength(const std::vector<unsigned char>& pending, bool padding) {
    if (!padding || pending.size() != kCipherBlock)
        return pending.size();
    const size_t pad = pending.back();
    return pad >= 1 && pad <= kCipherBlock ? kCipherBlock - pad : pending.size();
}

size_t EncryptUpdateLength(const std::vector<unsigned char>& pending, size_t dataLen, bool padding) {
    return WholeBlocks(HeldBackDataLength(pending, padding) + dataLen);
}

ULONG PlanEncryptUpdate(const std::vector<unsigned char>& pending, const unsigned char* data, size_t dataLen,
                        bool padding, BlockPlan* plan) {
    const size_t heldBack = HeldBackDataLength(pending, padding);
    const size_t total = heldBack + dataLen;
    if (!padding && total < kCipherBlock)
        return SAR_INVALIDPARAMERR;
    std::vector<unsigned char> all = Joined(pending, heldBack, data, dataLen);
    Split(all, WholeBlocks(total), plan);
    if (padding && !plan->keep.empty()) {
        const size_t pad = kCipherBlock - plan->keep.size();
        plan->keep.insert(plan->keep.end(), pad, static_cast<unsigned char>(pad));
    }
    return SAR_OK;
}

std::vector<unsigned char> EncryptFinalBlock(const std::vector<unsigned char>& pending, bool padding) {
    if (padding && pending.empty())
        return std::vector<unsigned char>(kCipherBlock, static_cast<unsigned char>(kCipherBlock));
    return pending;
}

size_t DecryptUpdateLength(size_t pendingLen, size_t dataLen, bool padding) {
    const size_t total = pendingLen + dataLen;
    if (padding && total != 0 && total % kCipherBlock == 0)
        return total - kCipherBlock;
    return WholeBlocks(total);
}

ULONG PlanDecryptUpdate(const std::vector<unsigned char>& pending, const unsigned char* data, size_t dataLen,
                        bool padding, BlockPlan* plan) {
    const size_t total = pending.size() + dataLen;
    if (!padding && total < kCipherBlock)
        return SAR_INVALIDPARAMERR;
    std::vector<unsigned char> all = Joined(pending, pending.size(), data, dataLen);
    Split(all, DecryptUpdateLength(pending.size(), dataLen, padding), plan);
    return SAR_OK;
}

size_t UnpaddedLength(const unsigned char* block, size_t len) {
    if (len == 0)
        return 0;
    const size_t pad = block[len - 1];
    if (pad < 1 || pad > kCipherBlock || pad > len)
        return len;
    for (size_t i = len - pad; i < len; ++i) {
        if (block[i] != pad)
            return len;
    }
    return len - pad;
}

void PlanMacUpdate(const std::vector<unsigned char>& pending, const unsigned char* data, size_t dataLen,
                   BlockPlan* plan) {
    std::vector<unsigned char> all = Joined(pending, pending.size(), data, dataLen);
    Split(all, WholeBlocks(all.size()), plan);
}

std::vector<unsigned char> MacFinalBlock(const std::vector<unsigned char>& pending) {
    std::vector<unsigned char> block(pending);
    if (block.empty())
        return block;
    block.push_back(0x80);
    block.resize(WholeBlocks(block.size() + kCipherBlock - 1), 0x00);
    return block;
}

} // namespace keycore
