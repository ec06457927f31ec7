#include "runtime/ipc_key.h"

#include <mbedtls/md5.h>
#include <sys/ipc.h>

namespace keycore {

key_t IpcKeyFromDigest(const uint8_t digest[16]) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | digest[i];
    if (value == 0)
        return kNoIpcKey;
    const auto key = static_cast<key_t>(static_cast<uint32_t>(value & 0xFFFFFFFFu));
    if (key == kNoIpcKey || key == IPC_PRIVATE)
        return kNoIpcKey;
    return key;
}

key_t IpcKeyFromName(const std::string& name) {
    uint8_t digest[16] = {};
    if (mbedtls_md5_ret(reinterpret_cast<const unsigned char*>(name.data()), name.size(), digest) != 0)
        return kNoIpcKey;
    return IpcKeyFromDigest(digest);
}

} // namespace keycore
