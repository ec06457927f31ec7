#pragma once
// Values the library and the token must agree on. The library reads them to recognise and drive
// tokens; vtoken, the virtual token, reads the same header so that both sides always match.

#include <cstddef>
#include <cstdint>

namespace keycore::token_identity {

// USB identity of the product family. A device is a token when its idVendor is kVendorId and its
// bcdDevice is kReleaseNumber or 0; its idProduct selects the framing.
inline constexpr uint16_t kVendorId = 0x1d99;
inline constexpr uint16_t kReleaseNumber = 0x0100;
inline constexpr uint16_t kProductIdBulkOnly = 0x0510;       // SCSI-style Bulk-Only framing
inline constexpr uint16_t kProductIdBulkOnlyAlt = 0x0511;    // second SCSI-style model
inline constexpr uint16_t kProductIdHid = 0x0512;            // 64-byte HID reports

// Device-type codes as the monitor reports them.
inline constexpr int kDeviceTypeNone = 0;
inline constexpr int kDeviceTypeHid = 8;
inline constexpr int kDeviceTypeBulkOnly = 9;

// Maps a USB device's identity to its device-type code (0 when it is not a token).
constexpr int DeviceTypeFor(uint16_t vendor, uint16_t product, uint16_t bcdDevice) {
    if (vendor != kVendorId || (bcdDevice != kReleaseNumber && bcdDevice != 0))
        return kDeviceTypeNone;
    if (product == kProductIdBulkOnly || product == kProductIdBulkOnlyAlt)
        return kDeviceTypeBulkOnly;
    if (product == kProductIdHid)
        return kDeviceTypeHid;
    return kDeviceTypeNone;
}

// The 16-byte access code sent before the privileged commands and the device-key change.
// The whole command is C6 8C 38 5A, the length byte 10, then the code.
inline constexpr uint8_t kAccessCodeHeader[5] = {0xc6, 0x8c, 0x38, 0x5a, 0x10};
inline constexpr uint8_t kAccessCode[16] = {0x3f, 0x10, 0xc7, 0x72, 0x9a, 0x4d, 0x06, 0xb5,
                                            0xe1, 0x28, 0x7c, 0x93, 0xda, 0x5f, 0x40, 0x68};

// The SM4 transport key of the RSA key import is never stored whole: it is the XOR of two parts,
// assembled when it is needed and wiped after use.
inline constexpr uint8_t kImportTransportKeyPartA[16] = {0xe5, 0x6e, 0x5a, 0xb7, 0x15, 0x2a, 0xed, 0xc7,
                                                         0x12, 0xa8, 0xc8, 0x4e, 0x37, 0x2c, 0x25, 0x33};
inline constexpr uint8_t kImportTransportKeyPartB[16] = {0x3c, 0x91, 0x07, 0x5e, 0xa2, 0x48, 0x6b, 0xd0,
                                                         0x99, 0x1f, 0x24, 0x83, 0x5a, 0xe7, 0x0c, 0x6e};
inline void BuildImportTransportKey(uint8_t key[16]) {
    for (size_t i = 0; i < 16; ++i)
        key[i] = static_cast<uint8_t>(kImportTransportKeyPartA[i] ^ kImportTransportKeyPartB[i]);
}

// The token's fixed SM2 key pair: the library encrypts a new device authentication key to the
// public key; only the token (vtoken) uses the private key.
inline constexpr uint8_t kDeviceKeyTransportPublicX[32] = {
    0xa2, 0xc5, 0xa2, 0xa1, 0x19, 0x79, 0x29, 0x72, 0x90, 0xb7, 0x08, 0x19, 0xb0, 0xfe, 0xaa, 0x8d,
    0x0a, 0xf6, 0x5c, 0x6f, 0xd2, 0xd3, 0x48, 0x44, 0xfd, 0x91, 0xb9, 0xc0, 0xf7, 0x27, 0xbf, 0x10};
inline constexpr uint8_t kDeviceKeyTransportPublicY[32] = {
    0x05, 0xe1, 0xe8, 0xbc, 0xca, 0xe3, 0x03, 0x7b, 0xdf, 0x3b, 0x14, 0x4f, 0x57, 0xb6, 0xe9, 0x54,
    0xf4, 0xe4, 0x41, 0xad, 0xd8, 0x23, 0x95, 0xbc, 0x90, 0x41, 0x34, 0x61, 0x59, 0x32, 0x4d, 0x18};
inline constexpr uint8_t kDeviceKeyTransportPrivate[32] = {
    0x1f, 0x91, 0x1e, 0x88, 0x60, 0x14, 0xe6, 0x01, 0xc4, 0xb7, 0x3e, 0x24, 0x6f, 0x2c, 0x07, 0xda,
    0x10, 0x3c, 0xa9, 0x7a, 0xb5, 0x6d, 0xc2, 0x61, 0x42, 0x74, 0x13, 0x73, 0x07, 0xf6, 0x01, 0x86};

} // namespace keycore::token_identity
