#pragma once
// Small pieces the core command families share: space accounting, name lists and fields,
// access rights, and the one lookup most commands start with.

#include <cstdint>
#include <string>
#include <vector>

#include "vtoken/applet/handler_table.h"

namespace vtoken {

// Status words of the core commands beyond those in command.h.
namespace sw {
inline constexpr uint16_t kNoChallenge = 0x6985;         // no GenRandom before a command that needs one
inline constexpr uint16_t kOffsetOutOfRange = 0x6B00;
inline constexpr uint16_t kApplicationNotFound = 0x6A8B;
inline constexpr uint16_t kContainerNotFound = 0x6A91;
inline constexpr uint16_t kFileExists = 0x6A92;
inline constexpr uint16_t kFileNotFound2 = 0x6A93;       // a file or container to delete is not there
inline constexpr uint16_t kCertificateNotFound = 0x6A96;
inline constexpr uint16_t kContainerExists = 0x6E02;
} // namespace sw

// Access rights of files and of file creation.
inline constexpr uint8_t kRightsNever = 0x00;
inline constexpr uint8_t kRightsAdmin = 0x01;
inline constexpr uint8_t kRightsUser = 0x10;
inline constexpr uint8_t kRightsAnyone = 0xFF;

// Limits of the token's storage and answers.
inline constexpr size_t kMaxApplications = 8;
inline constexpr size_t kMaxApplicationName = 32;
inline constexpr size_t kMaxFileName = 32;
inline constexpr size_t kMaxContainerName = 64;
inline constexpr size_t kMaxApplicationList = 512;
inline constexpr size_t kMaxFileList = 8161;
inline constexpr size_t kMaxContainerList = 4446;
inline constexpr size_t kMaxCertificate = 3056;

// Bytes of the token's storage in use, and what is left of totalSpace.
uint32_t UsedSpace(const TokenImage& image);
uint32_t FreeSpace(const TokenImage& image);
bool HasRoomFor(const TokenImage& image, size_t extraBytes);

// Storage cost of the objects (content plus a fixed record overhead).
size_t FileCost(size_t size);
size_t ContainerCost(const ContainerRecord& container);

// Names, each followed by a NUL, then one more NUL; with no names the list is 00 00.
template <typename Map> std::vector<uint8_t> NameList(const Map& named) {
    std::vector<uint8_t> list;
    for (const auto& entry : named) {
        list.insert(list.end(), entry.first.begin(), entry.first.end());
        list.push_back(0);
    }
    if (list.empty())
        list.push_back(0);
    list.push_back(0);
    return list;
}

// The length the list of `named` would have with one more name of `extra` characters.
template <typename Map> size_t NameListLengthWith(const Map& named, size_t extra) {
    size_t length = 1 + extra + 1;
    for (const auto& entry : named)
        length += entry.first.size() + 1;
    return length;
}

// A name in a zero-padded fixed field: the bytes before the first NUL.
std::string FieldName(const std::vector<uint8_t>& field);

// Whether rights allow the current security state of the application.
bool RightsAllow(const AppletContext& ctx, uint16_t applicationId, uint8_t rights);

// Reads a 2-byte application id from `reader` and finds it opened: 0x9000, 0x6700 when the data
// is short, or 0x698A.
uint16_t ReadOpenedApplication(AppletContext& ctx, DataReader& reader, ApplicationRecord** app, uint16_t* id);

} // namespace vtoken
