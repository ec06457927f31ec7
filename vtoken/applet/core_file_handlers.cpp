#include "vtoken/applet/core_handlers.h"

#include <algorithm>

#include "vtoken/applet/core_support.h"

namespace vtoken {
namespace {

// The file record of CreateFile: name (32, zero-padded), size (4), read and write rights (4 each,
// in the low byte).
constexpr size_t kFileRecordSize = 44;
// Offsets and sizes are 16-bit on the wire.
constexpr uint32_t kMaxFileSize = 0xFFFF;
// The token's I/O buffer: the host moves at most 3,000 bytes at a time.
constexpr size_t kMaxChunk = 3072;

// Both file spaces share the commands; the Ex forms (INS + 1) address the second one.
using FileSpace = std::map<std::string, TokenFile> ApplicationRecord::*;

template <FileSpace Space> struct FileCommands {
    // P1 P2 = app. Returns 0x9000 with *app set, or the failure status.
    static uint16_t AppFromP1P2(AppletContext& ctx, const Command& cmd, ApplicationRecord** app, uint16_t* appId) {
        *appId = static_cast<uint16_t>((cmd.p1 << 8) | cmd.p2);
        return ctx.OpenedApplication(*appId, app);
    }

    // P1 P2 = app, data = the file's name. Returns 0x9000 with the application, its id and the file's
    // entry set, or the status to answer.
    static uint16_t NamedFile(AppletContext& ctx, const Command& cmd, ApplicationRecord** app, uint16_t* appId,
                              std::map<std::string, TokenFile>::iterator* file) {
        uint16_t status = AppFromP1P2(ctx, cmd, app, appId);
        if (status != sw::kOk)
            return status;
        std::string name(cmd.data.begin(), cmd.data.end());
        if (name.empty() || name.size() > kMaxFileName)
            return sw::kWrongLength;
        auto& files = (*app)->*Space;
        *file = files.find(name);
        return *file == files.end() ? sw::kFileNotFound2 : sw::kOk;
    }

    static std::vector<uint8_t> Create(AppletContext& ctx, const Command& cmd) {
        ApplicationRecord* app = nullptr;
        uint16_t appId = 0;
        uint16_t status = AppFromP1P2(ctx, cmd, &app, &appId);
        if (status != sw::kOk)
            return Answer(status);
        if (cmd.data.size() != kFileRecordSize)
            return Answer(sw::kWrongLength);
        DataReader reader(cmd.data);
        std::string name = FieldName(reader.Bytes(kMaxFileName));
        uint32_t size = reader.U32();
        uint8_t readRights = static_cast<uint8_t>(reader.U32());
        uint8_t writeRights = static_cast<uint8_t>(reader.U32());
        if (name.empty() || size == 0 || size > kMaxFileSize)
            return Answer(sw::kWrongData);
        if (!RightsAllow(ctx, appId, static_cast<uint8_t>(app->createFileRights)))
            return Answer(sw::kSecurityNotSatisfied);
        auto& files = app->*Space;
        if (files.count(name) != 0)
            return Answer(sw::kFileExists);
        if (!HasRoomFor(ctx.image, FileCost(size)) || NameListLengthWith(files, name.size()) > kMaxFileList)
            return Answer(sw::kNotEnoughSpace);
        TokenFile file;
        file.size = size;
        file.readRights = readRights;
        file.writeRights = writeRights;
        file.content.assign(size, 0);
        files.emplace(name, std::move(file));
        ctx.imageChanged = true;
        return Answer(sw::kOk);
    }

    static std::vector<uint8_t> Delete(AppletContext& ctx, const Command& cmd) {
        ApplicationRecord* app = nullptr;
        uint16_t appId = 0;
        std::map<std::string, TokenFile>::iterator it;
        uint16_t status = NamedFile(ctx, cmd, &app, &appId, &it);
        if (status != sw::kOk)
            return Answer(status);
        // Whoever may write a file may delete it.
        if (!RightsAllow(ctx, appId, it->second.writeRights))
            return Answer(sw::kSecurityNotSatisfied);
        (app->*Space).erase(it);
        ctx.imageChanged = true;
        return Answer(sw::kOk);
    }

    static std::vector<uint8_t> Enumerate(AppletContext& ctx, const Command& cmd) {
        ApplicationRecord* app = nullptr;
        uint16_t appId = 0;
        uint16_t status = AppFromP1P2(ctx, cmd, &app, &appId);
        if (status != sw::kOk)
            return Answer(status);
        if (!cmd.data.empty())
            return Answer(sw::kWrongLength);
        return Answer(NameList(app->*Space));
    }

    // Answer: size, read rights, write rights, 4 bytes each.
    static std::vector<uint8_t> Info(AppletContext& ctx, const Command& cmd) {
        ApplicationRecord* app = nullptr;
        uint16_t appId = 0;
        std::map<std::string, TokenFile>::iterator it;
        uint16_t status = NamedFile(ctx, cmd, &app, &appId, &it);
        if (status != sw::kOk)
            return Answer(status);
        std::vector<uint8_t> answer;
        PutU32(answer, static_cast<uint32_t>(it->second.content.size()));
        PutU32(answer, it->second.readRights);
        PutU32(answer, it->second.writeRights);
        return Answer(std::move(answer));
    }

    // Data: app, offset, count, name length, name. The answer stops at the end of the file.
    static std::vector<uint8_t> Read(AppletContext& ctx, const Command& cmd) {
        DataReader reader(cmd.data);
        ApplicationRecord* app = nullptr;
        uint16_t appId = 0;
        uint16_t status = ReadOpenedApplication(ctx, reader, &app, &appId);
        if (status != sw::kOk)
            return Answer(status);
        size_t offset = reader.U16();
        size_t count = reader.U16();
        size_t nameLength = reader.U16();
        std::vector<uint8_t> nameBytes = reader.Bytes(nameLength);
        if (reader.Failed() || reader.Remaining() != 0 || nameLength == 0 || count > kMaxChunk)
            return Answer(sw::kWrongLength);
        auto& files = app->*Space;
        auto it = files.find(std::string(nameBytes.begin(), nameBytes.end()));
        if (it == files.end())
            return Answer(sw::kFileNotFound2);
        const TokenFile& file = it->second;
        if (!RightsAllow(ctx, appId, file.readRights))
            return Answer(sw::kSecurityNotSatisfied);
        if (offset > file.content.size())
            return Answer(sw::kOffsetOutOfRange);
        size_t available = std::min(count, file.content.size() - offset);
        auto begin = file.content.begin() + static_cast<std::ptrdiff_t>(offset);
        return Answer(std::vector<uint8_t>(begin, begin + static_cast<std::ptrdiff_t>(available)));
    }

    // Data: app, offset, name length, name, chunk length, chunk. A write past the end of the file
    // changes nothing.
    static std::vector<uint8_t> Write(AppletContext& ctx, const Command& cmd) {
        DataReader reader(cmd.data);
        ApplicationRecord* app = nullptr;
        uint16_t appId = 0;
        uint16_t status = ReadOpenedApplication(ctx, reader, &app, &appId);
        if (status != sw::kOk)
            return Answer(status);
        size_t offset = reader.U16();
        size_t nameLength = reader.U16();
        std::vector<uint8_t> nameBytes = reader.Bytes(nameLength);
        size_t chunkLength = reader.U16();
        std::vector<uint8_t> chunk = reader.Bytes(chunkLength);
        if (reader.Failed() || reader.Remaining() != 0 || nameLength == 0 || chunkLength > kMaxChunk)
            return Answer(sw::kWrongLength);
        auto& files = app->*Space;
        auto it = files.find(std::string(nameBytes.begin(), nameBytes.end()));
        if (it == files.end())
            return Answer(sw::kFileNotFound2);
        TokenFile& file = it->second;
        if (!RightsAllow(ctx, appId, file.writeRights))
            return Answer(sw::kSecurityNotSatisfied);
        if (offset > file.content.size() || chunk.size() > file.content.size() - offset)
            return Answer(sw::kOffsetOutOfRange);
        std::copy(chunk.begin(), chunk.end(), file.content.begin() + static_cast<std::ptrdiff_t>(offset));
        ctx.imageChanged = true;
        return Answer(sw::kOk);
    }

    static void Register(HandlerTable& table, uint8_t insOffset) {
        table.Add(0x80, static_cast<uint8_t>(0x30 + insOffset), Create);
        table.Add(0x80, static_cast<uint8_t>(0x32 + insOffset), Delete);
        table.Add(0x80, static_cast<uint8_t>(0x34 + insOffset), Enumerate);
        table.Add(0x80, static_cast<uint8_t>(0x36 + insOffset), Info);
        table.Add(0x80, static_cast<uint8_t>(0x38 + insOffset), Read);
        table.Add(0x80, static_cast<uint8_t>(0x3A + insOffset), Write);
    }
};

} // namespace

void RegisterFileHandlers(HandlerTable& table) {
    FileCommands<&ApplicationRecord::files>::Register(table, 0);
    FileCommands<&ApplicationRecord::filesEx>::Register(table, 1);
}

} // namespace vtoken
