#pragma once
// The block arithmetic of the streaming cipher and MAC calls, apart from any token: which bytes an
// update sends, which it holds back in the handle, and the padding of the last block.
//
// Held-back bytes of an encryption with padding are kept with provisional padding (PKCS#5 style) so
// that they always form one whole block that a final can send as it is; the next update strips it
// again. Without padding the held-back bytes are the 0 to 15 bytes after the last whole block.

#include "keycore/skf.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace keycore {

inline constexpr size_t kCipherBlock = 16;
// Whole blocks a cipher or MAC update command carries at most.
inline constexpr size_t kCipherPiece = 2016;
// Digest update commands carry at most this many bytes.
inline constexpr size_t kDigestPiece = 2000;

// What one update call does: the bytes to send (whole blocks), the bytes the handle keeps afterwards.
// Both parts hold caller data and are wiped when the plan goes.
struct BlockPlan {
    BlockPlan() = default;
    BlockPlan(const BlockPlan&) = delete;
    BlockPlan& operator=(const BlockPlan&) = delete;
    ~BlockPlan();

    std::vector<unsigned char> send;
    std::vector<unsigned char> keep;
};

// The real data held back by an encryption: pending without its provisional padding.
size_t HeldBackDataLength(const std::vector<unsigned char>& pending, bool padding);

// The number of bytes an encryption update of dataLen bytes produces.
size_t EncryptUpdateLength(const std::vector<unsigned char>& pending, size_t dataLen, bool padding);

// SAR_OK with the plan, or SAR_INVALIDPARAMERR when without padding fewer than one block is at hand
// (the pending bytes are then left as they are).
ULONG PlanEncryptUpdate(const std::vector<unsigned char>& pending, const unsigned char* data, size_t dataLen,
                        bool padding, BlockPlan* plan);

// The bytes an encryption final sends: the held-back block, or with padding and nothing held back a
// whole block of padding.
std::vector<unsigned char> EncryptFinalBlock(const std::vector<unsigned char>& pending, bool padding);

// The number of bytes a decryption update of dataLen bytes produces: with padding the last whole block
// is kept back, since it carries the padding.
size_t DecryptUpdateLength(size_t pendingLen, size_t dataLen, bool padding);

// SAR_OK with the plan, or SAR_INVALIDPARAMERR when without padding fewer than one block is at hand.
ULONG PlanDecryptUpdate(const std::vector<unsigned char>& pending, const unsigned char* data, size_t dataLen,
                        bool padding, BlockPlan* plan);

// The length of a decrypted last block without its padding; a block that does not end in valid
// padding keeps its full length.
size_t UnpaddedLength(const unsigned char* block, size_t len);

// MAC update: whole blocks to send, the trailing 0 to 15 bytes to keep.
void PlanMacUpdate(const std::vector<unsigned char>& pending, const unsigned char* data, size_t dataLen,
                   BlockPlan* plan);

// The MAC's last block: the kept bytes, 0x80, zeros up to a block; nothing when nothing is kept.
std::vector<unsigned char> MacFinalBlock(const std::vector<unsigned char>& pending);

} // namespace keycore
