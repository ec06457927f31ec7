#pragma once
// The running operations the token keeps between commands (cipher, MAC, digest, key agreement).
// They live in VolatileState and are lost with it on power loss.

#include <cstdint>
#include <memory>
#include <vector>

#include "vtoken/applet/applet_state.h"
#include "vtoken/applet/crypto_openssl.h"
#include "vtoken/applet/crypto_symmetric.h"

namespace vtoken::crypto {

struct CipherOperation : CryptoOperation {
    uint16_t keyIndex = 0;
    uint32_t algorithm = 0;
    bool loose = false;      // started by a command that carries its IV (no init command)
    std::vector<uint8_t> iv; // the IV it was started with
    std::unique_ptr<BlockCipher> cipher;
};

struct MacOperation : CryptoOperation {
    uint16_t keyIndex = 0;
    std::unique_ptr<BlockCipher> cbc;
    std::vector<uint8_t> lastBlock; // empty until some data was processed
};

struct DigestOperation : CryptoOperation {
    MdCtxPtr md;
};

struct AgreementOperation : CryptoOperation {
    uint16_t appId = 0;
    uint16_t containerId = 0;
    uint32_t algorithm = 0;
    std::vector<uint8_t> ownId;
    SecretBytes tempPrivate;
    std::vector<uint8_t> tempPublic; // X ‖ Y
};

template <typename T> T* Running(const std::unique_ptr<CryptoOperation>& op) {
    return dynamic_cast<T*>(op.get());
}

} // namespace vtoken::crypto
