#pragma once
// What a token holds when it is first made: the values users rely on to test against a fresh
// virtual token (the README lists them).

#include "vtoken/applet/token_applet.h"
#include "vtoken/applet/token_image.h"

namespace vtoken {

inline constexpr const char* kDefaultLabel = "vtoken";
inline constexpr const char* kDefaultApplicationName = "KEYCORE-APP";
inline constexpr const char* kDefaultAdminPin = "12345678";
inline constexpr const char* kDefaultUserPin = "12345678";
inline constexpr uint8_t kDefaultPinRetries = 10;
// The device authentication key of a new token: the 16 ASCII characters "1234567812345678".
inline constexpr const char* kDefaultDeviceKey = "1234567812345678";
inline constexpr uint8_t kDefaultDeviceKeyRetries = 10;
// Anyone may create files in the default application.
inline constexpr uint32_t kDefaultCreateFileRights = 0xFF;
inline constexpr uint32_t kDefaultTotalSpace = 128 * 1024;

// The image of a new token made from `profile`.
TokenImage NewTokenImage(const TokenProfile& profile);

} // namespace vtoken
