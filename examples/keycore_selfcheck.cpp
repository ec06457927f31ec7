// keycore-selfcheck: runs a few known-answer checks of the library and prints one line per
// check with OK or FAILED. Exits 0 when every check passes, 1 otherwise.
//
// To add a check, write a function that fills `detail` and returns whether the result is right,
// and list it in kChecks.
#include <openssl/core_names.h>
#include <openssl/evp.h>

#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "crypto/sm2.h"
#include "crypto/sm3.h"
#include "crypto/sm4.h"
#include "runtime/process_mutex.h"
#include "runtime/share_memory.h"

namespace {

using Bytes = std::vector<unsigned char>;

std::string Hex(const unsigned char* p, size_t len) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < len; ++i) {
        text += digits[p[i] >> 4];
        text += digits[p[i] & 15];
    }
    return text;
}

Bytes FromHex(const std::string& text) {
    Bytes out;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoul(text.substr(i, 2), nullptr, 16)));
    return out;
}

bool CheckSm3(std::string& detail) {
    const std::string expected = "66c7f0f462eeedd9d1f2d46bdc10e4e24167c4875cf2f7a2297da02b8f4ba8e0";
    const unsigned char message[] = {'a', 'b', 'c'};
    unsigned char digest[SM3_DIGEST_SIZE];
    if (sm3(message, sizeof message, digest) != 0)
        return false;
    detail = Hex(digest, sizeof digest);
    return detail == expected;
}

bool CheckSm4(std::string& detail) {
    const Bytes key = FromHex("0123456789abcdeffedcba9876543210");
    const std::string expected = "681edf34d206965e86b3e94f536e4246";
    sm4_context enc, dec;
    unsigned char cipher[16], back[16];
    if (sm4_setkey_enc(&enc, key.data()) != 0 || sm4_setkey_dec(&dec, key.data()) != 0 ||
        sm4_crypt_ecb(&enc, key.data(), cipher) != 0 || sm4_crypt_ecb(&dec, cipher, back) != 0)
        return false;
    detail = Hex(cipher, sizeof cipher);
    return detail == expected && Bytes(back, back + 16) == key;
}

// OpenSSL reads SM2 cipher text as DER: SEQUENCE { INTEGER x, INTEGER y, OCTET STRING C3,
// OCTET STRING C2 }; the library writes 04 || x || y || C2 || C3. The message checked here is
// short enough for every DER length to fit in one byte.
Bytes DerInteger(const unsigned char* p, size_t len) {
    while (len > 1 && *p == 0) {
        ++p;
        --len;
    }
    Bytes out = {0x02, static_cast<unsigned char>(len + ((*p & 0x80) ? 1 : 0))};
    if (*p & 0x80)
        out.push_back(0);
    out.insert(out.end(), p, p + len);
    return out;
}

Bytes Sm2RawToDer(const Bytes& raw, size_t messageLen) {
    Bytes body = DerInteger(raw.data() + 1, 32);
    Bytes y = DerInteger(raw.data() + 33, 32);
    body.insert(body.end(), y.begin(), y.end());
    body.push_back(0x04);
    body.push_back(32);
    body.insert(body.end(), raw.end() - 32, raw.end());
    body.push_back(0x04);
    body.push_back(static_cast<unsigned char>(messageLen));
    body.insert(body.end(), raw.begin() + 65, raw.begin() + 65 + static_cast<long>(messageLen));
    Bytes der = {0x30, static_cast<unsigned char>(body.size())};
    der.insert(der.end(), body.begin(), body.end());
    return der;
}

bool CheckSm2RoundTrip(std::string& detail) {
    const std::string message = "keycore self-check";
    const Bytes plain(message.begin(), message.end());

    // A key pair from OpenSSL; the library only sees its public point.
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "SM2");
    unsigned char point[65];
    size_t pointLen = 0;
    if (key == nullptr ||
        EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &pointLen) != 1 ||
        pointLen != sizeof point) {
        EVP_PKEY_free(key);
        detail = "OpenSSL could not make an SM2 key";
        return false;
    }

    sm2_context ctx;
    Bytes cipher(plain.size() + SM2_CIPHER_OVERHEAD);
    size_t cipherLen = cipher.size();
    int rc = sm2_init(&ctx);
    if (rc == 0)
        rc = sm2_read_public_hex(&ctx, Hex(point + 1, 32).c_str(), Hex(point + 33, 32).c_str());
    if (rc == 0)
        rc = sm2_encrypt(&ctx, plain.data(), plain.size(), cipher.data(), &cipherLen, nullptr, nullptr);
    sm2_free(&ctx);
    if (rc != 0) {
        EVP_PKEY_free(key);
        detail = "encryption failed: " + std::to_string(rc);
        return false;
    }

    Bytes der = Sm2RawToDer(cipher, plain.size());
    Bytes decrypted(cipher.size());
    size_t decryptedLen = decrypted.size();
    EVP_PKEY_CTX* dctx = EVP_PKEY_CTX_new(key, nullptr);
    bool ok = dctx != nullptr && EVP_PKEY_decrypt_init(dctx) == 1 &&
              EVP_PKEY_decrypt(dctx, decrypted.data(), &decryptedLen, der.data(), der.size()) == 1;
    EVP_PKEY_CTX_free(dctx);
    EVP_PKEY_free(key);
    decrypted.resize(ok ? decryptedLen : 0);

    detail = std::to_string(cipherLen) + " bytes, decrypted by OpenSSL to \"" +
             std::string(decrypted.begin(), decrypted.end()) + "\"";
    return ok && cipherLen == plain.size() + 97 && decrypted == plain;
}

// Three processes add to one counter in a shared segment, each under the cross-process lock; no
// increment may be lost. The segment is the named kind the slot manager uses: size + 8 bytes.
bool CheckProcessLockAndSharedMemory(std::string& detail) {
    const std::string name = "keycore-selfcheck-" + std::to_string(getpid());
    const int kProcesses = 3;
    const int kIncrements = 2000;

    keycore::CShareMemory memory;
    if (memory.Create(name, 4096, false, nullptr) != 0) {
        detail = "cannot create the shared segment";
        return false;
    }
    struct shmid_ds info {};
    shmctl(memory.SegmentId(), IPC_STAT, &info);
    const uint32_t firstWord = *static_cast<uint32_t*>(memory.Base());

    std::vector<pid_t> children;
    for (int i = 0; i < kProcesses; ++i) {
        pid_t pid = fork();
        if (pid == 0) {
            keycore::CShareMemory mine;
            if (mine.Open(name, false) != 0)
                _exit(2);
            for (int n = 0; n < kIncrements; ++n) {
                if (mine.Lock() != 0)
                    _exit(3);
                volatile uint32_t* counter = static_cast<uint32_t*>(mine.Data());
                uint32_t value = *counter;
                if (n % 64 == 0)
                    usleep(1); // give the others a chance to interleave
                *counter = value + 1;
                mine.Unlock();
            }
            _exit(0);
        }
        children.push_back(pid);
    }
    bool childrenOk = true;
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        childrenOk = childrenOk && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    const uint32_t total = *static_cast<uint32_t*>(memory.Data());
    memory.Destroy();

    detail = "segment " + std::to_string(info.shm_segsz) + " bytes, size word " + std::to_string(firstWord) +
             ", counter " + std::to_string(total) + " of " + std::to_string(kProcesses * kIncrements);
    return childrenOk && info.shm_segsz == 4104 && firstWord == 4096 &&
           total == static_cast<uint32_t>(kProcesses * kIncrements);
}

struct Check {
    const char* name;
    bool (*run)(std::string& detail);
};

const Check kChecks[] = {
    {"process lock + shared memory", CheckProcessLockAndSharedMemory},
    {"SM3(\"abc\")", CheckSm3},
    {"SM4 standard example", CheckSm4},
    {"SM2 encrypt/decrypt round trip", CheckSm2RoundTrip},
};

} // namespace

int main() {
    int failures = 0;
    for (const Check& check : kChecks) {
        std::string detail;
        bool ok = check.run(detail);
        std::printf("%-34s %-7s %s\n", check.name, ok ? "OK" : "FAILED", detail.c_str());
        if (!ok)
            ++failures;
    }
    std::printf("%s\n", failures == 0 ? "all checks passed" : "some checks FAILED");
    return failures == 0 ? 0 : 1;
}
