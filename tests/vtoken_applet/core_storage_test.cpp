#include "core_test_support.h"

namespace vtoken::testing {
namespace {

const Bytes kDefaultDeviceKey = Text("1234567812345678");

Bytes Field(const std::string& s, size_t size) {
    Bytes b = Text(s);
    b.resize(size, 0);
    return b;
}

Bytes AppRecord(const std::string& name, const std::string& admin = "admin123", uint8_t adminRetries = 5,
                const std::string& user = "user1234", uint8_t userRetries = 3, uint8_t rights = 0x10) {
    return Cat({Field(name, 32), Field(admin, 16), U32(adminRetries), Field(user, 16), U32(userRetries), U32(rights),
                {0x7F, 0xFE, 0x00, 0xFF}});
}

class StorageTest : public TokenFixture {
protected:
    uint16_t DevAuth() {
        Bytes challenge = Challenge(8);
        challenge.resize(16, 0);
        return Sw(Apdu(0x80, 0x10, 0, 0, Sm4(kDefaultDeviceKey, challenge)));
    }
    Bytes FileRecord(const std::string& name, uint32_t size, uint8_t readRights = 0xFF, uint8_t writeRights = 0xFF) {
        return Cat({Field(name, 32), U32(size), U32(readRights), U32(writeRights)});
    }
    uint16_t CreateFile(uint16_t app, const std::string& name, uint32_t size, uint8_t r = 0xFF, uint8_t w = 0xFF,
                        uint8_t ins = 0x30) {
        return Sw(Apdu(0x80, ins, app >> 8, app & 0xFF, FileRecord(name, size, r, w)));
    }
    Bytes WriteApdu(uint16_t app, const std::string& name, unsigned offset, const Bytes& chunk, uint8_t ins = 0x3A) {
        return Apdu(0x80, ins, 0, 0,
                    Cat({U16(app), U16(offset), U16(static_cast<unsigned>(name.size())), Text(name),
                         U16(static_cast<unsigned>(chunk.size())), chunk}));
    }
    Reply Read(uint16_t app, const std::string& name, unsigned offset, unsigned count, uint8_t ins = 0x38) {
        return Send(Apdu(0x80, ins, 0, 0,
                         Cat({U16(app), U16(offset), U16(count), U16(static_cast<unsigned>(name.size())), Text(name)}),
                         {0, 0}));
    }
    Bytes FileInfo(uint16_t app, const std::string& name, uint16_t* sw, uint8_t ins = 0x36) {
        Reply r = Send(Apdu(0x80, ins, app >> 8, app & 0xFF, Text(name), {0, 0x0C}));
        *sw = r.sw;
        return r.data;
    }
    Bytes Containers(uint16_t app) { return Send(Apdu(0x80, 0x46, 0, 0, U16(app))).data; }
    Reply CreateContainer(uint16_t app, const std::string& name) {
        return Send(Apdu(0x80, 0x40, 0, 0, Cat({U16(app), Text(name)}), {0, 2}));
    }
};

TEST_F(StorageTest, ApplicationLifecycle) {
    EXPECT_EQ(Send({0x80, 0x22, 0, 0, 0, 0, 0}).data, Cat({Text("KEYCORE-APP"), {0, 0}}));
    EXPECT_EQ(Sw(Apdu(0x80, 0x20, 0, 0, AppRecord("SECOND"))), 0x6982) << "needs device authentication";
    ASSERT_EQ(DevAuth(), 0x9000);
    EXPECT_EQ(Sw(Apdu(0x80, 0x20, 0, 0, AppRecord("SECOND"))), 0x9000);
    EXPECT_EQ(Sw(Apdu(0x80, 0x20, 0, 0, AppRecord("SECOND"))), 0x6A89);
    EXPECT_EQ(Send({0x80, 0x22, 0, 0, 0, 0, 0}).data, Cat({Text("KEYCORE-APP"), {0}, Text("SECOND"), {0, 0}}));

    Reply opened = Send(Apdu(0x80, 0x26, 0, 0, Text("SECOND"), {0, 0x0A}));
    ASSERT_EQ(opened.sw, 0x9000);
    ASSERT_EQ(opened.data.size(), 10u);
    EXPECT_EQ(Bytes(opened.data.begin(), opened.data.begin() + 8), (Bytes{0, 0, 0, 0x10, 5, 3, 0, 0}));
    uint16_t id = static_cast<uint16_t>((opened.data[8] << 8) | opened.data[9]);
    EXPECT_NE(id, OpenApp());
    EXPECT_EQ(PinInfo(id, 1), (Bytes{3, 3, 1}));
    EXPECT_EQ(VerifyPin(id, 0, "admin123"), 0x9000);

    EXPECT_EQ(Sw(Apdu(0x80, 0x28, 0, 0, U16(id))), 0x9000);
    EXPECT_EQ(PinInfo(id, 1).size(), 0u) << "closed: no longer selected";
    EXPECT_EQ(Sw(Apdu(0x80, 0x28, 0, 0, U16(0x4444))), 0x6A88);

    EXPECT_EQ(Sw(Apdu(0x80, 0x24, 0, 0, Text("SECOND"))), 0x9000);
    EXPECT_EQ(Sw(Apdu(0x80, 0x24, 0, 0, Text("SECOND"))), 0x6A8B);
    EXPECT_EQ(Sw(Apdu(0x80, 0x26, 0, 0, Text("SECOND"), {0, 0x0A})), 0x6A8B);
}

TEST_F(StorageTest, ApplicationRecordRefusals) {
    ASSERT_EQ(DevAuth(), 0x9000);
    struct Case {
        const char* what;
        Bytes data;
        uint16_t sw;
    } cases[] = {
        {"record one byte short", [] { Bytes b = AppRecord("X"); b.pop_back(); return b; }(), 0x6700},
        {"empty name", AppRecord(""), 0x6A80},
        {"empty admin PIN", AppRecord("X", ""), 0x6A80},
        {"zero retries", AppRecord("X", "admin123", 0), 0x6A80},
        {"retries beyond 15", AppRecord("X", "admin123", 16), 0x6A80},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Sw(Apdu(0x80, 0x20, 0, 0, c.data)), c.sw) << c.what;
    EXPECT_EQ(Sw(Apdu(0x80, 0x20, 0, 0, AppRecord(std::string(32, 'N')))), 0x9000) << "32-character name";
    for (int i = 0; i < 6; ++i)
        ASSERT_EQ(Sw(Apdu(0x80, 0x20, 0, 0, AppRecord("A" + std::to_string(i)))), 0x9000);
    EXPECT_EQ(Sw(Apdu(0x80, 0x20, 0, 0, AppRecord("ONE-TOO-MANY"))), 0x6A84);
    EXPECT_EQ(Sw(Apdu(0x80, 0x26, 0, 0, {}, {0, 0x0A})), 0x6700);
}

TEST_F(StorageTest, BlankTokenHasNoApplication) {
    OpenToken();
    m_token.reset();
    ASSERT_EQ(std::system(("rm -f " + m_dir + "/token.img").c_str()), 0);
    OpenToken({"", "BLANK1", true});
    EXPECT_EQ(Send({0x80, 0x22, 0, 0, 0, 0, 0}).data, (Bytes{0, 0}));
    EXPECT_EQ(m_token->Serial(), "BLANK1");
}

TEST_F(StorageTest, FilesReadWriteAndSizes) {
    uint16_t app = OpenApp();
    ASSERT_EQ(CreateFile(app, "data", 100), 0x9000);
    EXPECT_EQ(CreateFile(app, "data", 100), 0x6A92);
    Bytes payload(60, 0xAB);
    ASSERT_EQ(Sw(WriteApdu(app, "data", 40, payload)), 0x9000);
    Reply r = Read(app, "data", 0, 100);
    ASSERT_EQ(r.sw, 0x9000);
    EXPECT_EQ(r.data, Cat({Bytes(40, 0), payload}));
    EXPECT_EQ(Read(app, "data", 90, 50).data.size(), 10u) << "a read stops at the end of the file";
    EXPECT_EQ(Read(app, "data", 100, 1).data.size(), 0u);
    EXPECT_EQ(Read(app, "data", 101, 1).sw, 0x6B00);
    EXPECT_EQ(Sw(WriteApdu(app, "data", 41, payload)), 0x6B00) << "past the end";
    EXPECT_EQ(Read(app, "data", 40, 60).data, payload) << "a refused write changes nothing";

    uint16_t sw = 0;
    EXPECT_EQ(FileInfo(app, "data", &sw), Cat({U32(100), U32(0xFF), U32(0xFF)}));
    EXPECT_EQ(sw, 0x9000);
    FileInfo(app, "nothing", &sw);
    EXPECT_EQ(sw, 0x6A93);

    ASSERT_EQ(CreateFile(app, "other", 5), 0x9000);
    EXPECT_EQ(Send(Apdu(0x80, 0x34, app >> 8, app & 0xFF, {})).data, Cat({Text("data"), {0}, Text("other"), {0, 0}}));
    EXPECT_EQ(Sw(Apdu(0x80, 0x32, app >> 8, app & 0xFF, Text("data"))), 0x9000);
    EXPECT_EQ(Sw(Apdu(0x80, 0x32, app >> 8, app & 0xFF, Text("data"))), 0x6A93);
    EXPECT_EQ(Read(app, "data", 0, 1).sw, 0x6A93);
}

TEST_F(StorageTest, FileSpacesAreSeparate) {
    uint16_t app = OpenApp();
    ASSERT_EQ(CreateFile(app, "same", 10), 0x9000);
    ASSERT_EQ(CreateFile(app, "same", 20, 0xFF, 0xFF, 0x31), 0x9000);
    ASSERT_EQ(Sw(WriteApdu(app, "same", 0, Text("second"), 0x3B)), 0x9000);
    EXPECT_EQ(Read(app, "same", 0, 6, 0x39).data, Text("second"));
    EXPECT_EQ(Read(app, "same", 0, 6).data, Bytes(6, 0));
    uint16_t sw = 0;
    EXPECT_EQ(FileInfo(app, "same", &sw, 0x37)[3], 20);
    EXPECT_EQ(Send(Apdu(0x80, 0x35, app >> 8, app & 0xFF, {})).data, Cat({Text("same"), {0, 0}}));
    ASSERT_EQ(Sw(Apdu(0x80, 0x33, app >> 8, app & 0xFF, Text("same"))), 0x9000);
    EXPECT_EQ(Read(app, "same", 0, 1).sw, 0x9000) << "the first space keeps its file";
    // The object store moves 3,000-byte chunks through the second space.
    ASSERT_EQ(CreateFile(app, "big", 6000, 0xFF, 0xFF, 0x31), 0x9000);
    Bytes chunk(3000, 0x5A);
    EXPECT_EQ(Sw(WriteApdu(app, "big", 3000, chunk, 0x3B)), 0x9000);
    EXPECT_EQ(Read(app, "big", 3000, 3000, 0x39).data, chunk);
}

TEST_F(StorageTest, FileAccessRightsFollowTheSecurityState) {
    uint16_t app = OpenApp();
    // The default application lets anyone create files; these files guard themselves.
    ASSERT_EQ(CreateFile(app, "user-only", 8, 0x10, 0x10), 0x9000);
    ASSERT_EQ(CreateFile(app, "admin-write", 8, 0xFF, 0x01), 0x9000);
    ASSERT_EQ(CreateFile(app, "never", 8, 0x00, 0x00), 0x9000);
    EXPECT_EQ(Read(app, "user-only", 0, 8).sw, 0x6982);
    EXPECT_EQ(Sw(WriteApdu(app, "user-only", 0, {1})), 0x6982);
    EXPECT_EQ(Sw(WriteApdu(app, "admin-write", 0, {1})), 0x6982);
    EXPECT_EQ(Read(app, "admin-write", 0, 8).sw, 0x9000);
    EXPECT_EQ(Sw(Apdu(0x80, 0x32, app >> 8, app & 0xFF, Text("user-only"))), 0x6982);

    ASSERT_EQ(VerifyPin(app, 1, "12345678"), 0x9000);
    EXPECT_EQ(Read(app, "user-only", 0, 8).sw, 0x9000);
    EXPECT_EQ(Sw(WriteApdu(app, "user-only", 0, {1})), 0x9000);
    EXPECT_EQ(Sw(WriteApdu(app, "admin-write", 0, {1})), 0x6982);
    ASSERT_EQ(VerifyPin(app, 0, "12345678"), 0x9000);
    EXPECT_EQ(Sw(WriteApdu(app, "admin-write", 0, {1})), 0x9000);
    EXPECT_EQ(Read(app, "never", 0, 8).sw, 0x6982);

    // An application whose file creation needs the user PIN.
    Bytes challenge = Challenge(8);
    challenge.resize(16, 0);
    ASSERT_EQ(Sw(Apdu(0x80, 0x10, 0, 0, Sm4(kDefaultDeviceKey, challenge))), 0x9000);
    ASSERT_EQ(Sw(Apdu(0x80, 0x20, 0, 0, AppRecord("GUARDED"))), 0x9000);
    uint16_t guarded = OpenApp("GUARDED");
    EXPECT_EQ(CreateFile(guarded, "f", 8), 0x6982);
    ASSERT_EQ(VerifyPin(guarded, 1, "user1234"), 0x9000);
    EXPECT_EQ(CreateFile(guarded, "f", 8), 0x9000);
}

TEST_F(StorageTest, FileCommandRefusals) {
    uint16_t app = OpenApp();
    ASSERT_EQ(CreateFile(app, "f", 16), 0x9000);
    struct Case {
        const char* what;
        Bytes apdu;
        uint16_t sw;
    } cases[] = {
        {"create in unopened application", Apdu(0x80, 0x30, 0x77, 0x77, FileRecord("g", 8)), 0x698A},
        {"create with zero size", Apdu(0x80, 0x30, app >> 8, app & 0xFF, FileRecord("g", 0)), 0x6A80},
        {"create beyond 16-bit size", Apdu(0x80, 0x30, app >> 8, app & 0xFF, FileRecord("g", 0x10000)), 0x6A80},
        {"create the largest file", Apdu(0x80, 0x30, app >> 8, app & 0xFF, FileRecord("g", 0xFFFF)), 0x9000},
        {"create with a short record", Apdu(0x80, 0x30, app >> 8, app & 0xFF, Bytes(43, 'a')), 0x6700},
        {"write with a name length past the data", Apdu(0x80, 0x3A, 0, 0, Cat({U16(app), U16(0), U16(9), Text("f")})),
         0x6700},
        {"write with trailing bytes",
         Apdu(0x80, 0x3A, 0, 0, Cat({U16(app), U16(0), U16(1), Text("f"), U16(1), {1}, {9}})), 0x6700},
        {"read more than one chunk", Apdu(0x80, 0x38, 0, 0, Cat({U16(app), U16(0), U16(4000), U16(1), Text("f")}), {0, 0}),
         0x6700},
        {"delete with an empty name", Apdu(0x80, 0x32, app >> 8, app & 0xFF, {}), 0x6700},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Sw(c.apdu), c.sw) << c.what;
    // The space is finite: 128 KiB on a new token.
    uint16_t last = 0x9000;
    for (int i = 0; i < 4 && last == 0x9000; ++i)
        last = CreateFile(app, "fill" + std::to_string(i), 0xFFFF);
    EXPECT_EQ(last, 0x6A84);
}

TEST_F(StorageTest, ContainersNeedTheUserPinToChange) {
    uint16_t app = OpenApp();
    EXPECT_EQ(CreateContainer(app, "c1").sw, 0x6982);
    ASSERT_EQ(VerifyPin(app, 1, "12345678"), 0x9000);
    Reply created = CreateContainer(app, "c1");
    ASSERT_EQ(created.sw, 0x9000);
    ASSERT_EQ(created.data.size(), 2u);
    EXPECT_EQ(CreateContainer(app, "c1").sw, 0x6E02);
    ASSERT_EQ(CreateContainer(app, std::string(64, 'n')).sw, 0x9000);
    EXPECT_EQ(CreateContainer(app, std::string(65, 'n')).sw, 0x6700);
    EXPECT_EQ(CreateContainer(app, "").sw, 0x6700);
    EXPECT_EQ(Containers(app), Cat({Text("c1"), {0}, Text(std::string(64, 'n')), {0, 0}}));

    Reply opened = Send(Apdu(0x80, 0x42, 0, 0, Cat({U16(app), Text("c1")}), {0, 2}));
    EXPECT_EQ(opened.sw, 0x9000);
    EXPECT_EQ(opened.data, created.data);
    EXPECT_EQ(Sw(Apdu(0x80, 0x42, 0, 0, Cat({U16(app), Text("none")}), {0, 2})), 0x6A91);
    EXPECT_EQ(Sw(Apdu(0x80, 0x44, 0, 0, Cat({U16(app), created.data}))), 0x9000);
    EXPECT_EQ(Sw(Apdu(0x80, 0x44, 0, 0, Cat({U16(app), U16(0x999)}))), 0x6A91);

    ASSERT_EQ(Sw(Apdu(0x80, 0x1C, 0, 0, U16(app))), 0x9000);
    EXPECT_EQ(Sw(Apdu(0x80, 0x48, 0, 0, Cat({U16(app), Text("c1")}))), 0x6982);
    ASSERT_EQ(VerifyPin(app, 1, "12345678"), 0x9000);
    EXPECT_EQ(Sw(Apdu(0x80, 0x48, 0, 0, Cat({U16(app), Text("c1")}))), 0x9000);
    EXPECT_EQ(Sw(Apdu(0x80, 0x48, 0, 0, Cat({U16(app), Text("c1")}))), 0x6A93);
    EXPECT_EQ(Containers(app), Cat({Text(std::string(64, 'n')), {0, 0}}));
    EXPECT_EQ(Sw(Apdu(0x80, 0x46, 0, 0, U16(0x4242))), 0x698A);
}

TEST_F(StorageTest, ContainerInfoAndCertificates) {
    uint16_t app = OpenApp();
    ASSERT_EQ(VerifyPin(app, 1, "12345678"), 0x9000);
    Bytes ctr = CreateContainer(app, "keys").data;
    Reply info = Send(Apdu(0x80, 0x4A, 0, 0, Cat({U16(app), Text("keys")}), {0, 0x0B}));
    ASSERT_EQ(info.sw, 0x9000);
    ASSERT_EQ(info.data.size(), 11u);
    EXPECT_EQ(Bytes(info.data.begin(), info.data.begin() + 4), Bytes(4, 0)) << "no key pair yet";
    EXPECT_EQ(Sw(Apdu(0x80, 0x4A, 0, 0, Cat({U16(app), Text("nokeys")}), {0, 0x0B})), 0x6A91);

    auto exportCert = [&](uint8_t flag) { return Send(Apdu(0x80, 0x4E, flag, 0, Cat({U16(app), ctr}), {0, 0})); };
    EXPECT_EQ(exportCert(1).sw, 0x6A96);
    Bytes cert(1000, 0x30);
    Bytes import = Apdu(0x80, 0x4C, 0, 0, Cat({U16(app), ctr, {1}, U32(1000), cert}));
    ASSERT_EQ(Sw(import), 0x9000);
    Reply exported = exportCert(1);
    ASSERT_EQ(exported.sw, 0x9000);
    EXPECT_EQ(exported.data, Cat({U32(1000), cert}));
    EXPECT_EQ(exportCert(0).sw, 0x6A96) << "the exchange slot is separate";
    info = Send(Apdu(0x80, 0x4A, 0, 0, Cat({U16(app), Text("keys")}), {0, 0x0B}));
    EXPECT_EQ(info.data[8], 1);
    EXPECT_EQ(info.data[9], 0);

    struct Case {
        const char* what;
        Bytes apdu;
        uint16_t sw;
    } cases[] = {
        {"length field disagrees", Apdu(0x80, 0x4C, 0, 0, Cat({U16(app), ctr, {0}, U32(5), Bytes(4, 1)})), 0x6700},
        {"empty certificate", Apdu(0x80, 0x4C, 0, 0, Cat({U16(app), ctr, {0}, U32(0)})), 0x6700},
        {"beyond 3056 bytes", Apdu(0x80, 0x4C, 0, 0, Cat({U16(app), ctr, {0}, U32(3057), Bytes(3057, 1)})), 0x6700},
        {"unknown container", Apdu(0x80, 0x4C, 0, 0, Cat({U16(app), U16(0x999), {0}, U32(1), {1}})), 0x6A94},
        {"export from unknown container", Apdu(0x80, 0x4E, 1, 0, Cat({U16(app), U16(0x999)}), {0, 0}), 0x6A94},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Sw(c.apdu), c.sw) << c.what;
    ASSERT_EQ(Sw(Apdu(0x80, 0x1C, 0, 0, U16(app))), 0x9000);
    EXPECT_EQ(Sw(import), 0x6982) << "import needs the user PIN";
}

} // namespace
} // namespace vtoken::testing
