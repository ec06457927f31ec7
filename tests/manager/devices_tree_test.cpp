// The device tree follows the tokens present (at start, on plugging and unplugging) and a click on a
// token fills the key information page: label, serial text, sizes, PIN counts and default flags.
#include "pages_test_support.h"

#include <cstring>

namespace keydesk::test {
namespace {

using DevicesTest = PagesTest;

TEST_F(DevicesTest, TokenPresentAtStartAppearsWithoutPlugEvent) {
    const std::string name = DeviceNameOf(Plug({"--kind", "bot"}));
    ASSERT_FALSE(name.empty());
    StartWindow();
    ASSERT_TRUE(WaitUntil([&] { return TopTexts(Form()->treeView_Dev).size() == 1; }));
    EXPECT_EQ(TreeLines(Form()->treeView_Dev), (std::vector<std::string>{name, "  Data Manger"}));
    EXPECT_EQ(Form()->treeView_Dev->model()->headerData(0, Qt::Horizontal).toString().toStdString(), "DevList");
}

TEST_F(DevicesTest, PluggingAndUnpluggingRebuildTheTree) {
    const auto first = Plug({"--kind", "bot"});
    const std::string firstName = DeviceNameOf(first);
    StartWindow();
    ASSERT_TRUE(WaitUntil([&] { return TopTexts(Form()->treeView_Dev).size() == 1; }));

    const auto second = Plug({"--kind", "hid", "--blank"});
    ASSERT_TRUE(WaitUntil([&] { return TopTexts(Form()->treeView_Dev).size() == 2; }));
    const std::string secondName = DeviceNameOf(second);
    EXPECT_EQ(TreeLines(Form()->treeView_Dev),
              (std::vector<std::string>{firstName, "  Data Manger", secondName, "  Empty Device"}));

    // A rebuild leaves the key information page for the device page's main page.
    ClickDevice(firstName);
    ASSERT_EQ(Form()->tabWidget_2->currentIndex(), 1);
    Unplug(first);
    ASSERT_TRUE(WaitUntil([&] { return TopTexts(Form()->treeView_Dev).size() == 1; }));
    EXPECT_EQ(TreeLines(Form()->treeView_Dev), (std::vector<std::string>{secondName, "  Empty Device"}));
    EXPECT_EQ(Form()->tabWidget->currentIndex(), 1);
    EXPECT_EQ(Form()->tabWidget_2->currentIndex(), 0);
    EXPECT_FALSE(Enabled(Form()->btn_ChangeLabel));
    EXPECT_TRUE(Form()->label_bottom->text().isEmpty());

    Unplug(second);
    ASSERT_TRUE(WaitUntil([&] { return TopTexts(Form()->treeView_Dev).empty(); }));
}

TEST_F(DevicesTest, TokenWithoutApplicationShowsEmptyDeviceAndAnEmptyCertificatePage) {
    const std::string name = DeviceNameOf(Plug({"--blank"}));
    StartWindow();
    ASSERT_TRUE(WaitUntil([&] { return TopTexts(Form()->treeView_Dev).size() == 1; }));
    EXPECT_EQ(TreeLines(Form()->treeView_Dev), (std::vector<std::string>{name, "  Empty Device"}));

    ClickApplication(name);
    EXPECT_EQ(Form()->tabWidget->currentIndex(), 2);
    EXPECT_TRUE(TreeLines(Form()->treeView).empty());
    EXPECT_TRUE(Enabled(Form()->btn_ChangeLabel));
    EXPECT_FALSE(Enabled(Form()->btn_VerifyPIN));
    EXPECT_FALSE(Enabled(Form()->btn_ChangePIN));
    EXPECT_FALSE(Enabled(Form()->btn_UnblockPIN));
}

struct SerialCase {
    const char* serial;
    const char* shown;
};

// The serial as the token has it when it is letters and digits only, else ".xx" per byte.
TEST_F(DevicesTest, KeyInformationRowsOfAKnownToken) {
    const SerialCase cases[] = {
        {"A1B2", "A1B2"},
        {"KD0123456789abcdefghijklmnopqrsT", "KD0123456789abcdefghijklmnopqrsT"},
        {"AB-1.z_", ".41.42.2d.31.2e.7a.5f"},
    };
    std::vector<std::string> tokens;
    for (const SerialCase& c : cases)
        tokens.push_back(DeviceNameOf(Plug({"--serial", c.serial, "--label", std::string("lbl-") + c.serial})));
    StartWindow();
    ASSERT_TRUE(WaitUntil([&] { return TopTexts(Form()->treeView_Dev).size() == tokens.size(); }));

    for (size_t i = 0; i < tokens.size(); ++i) {
        SCOPED_TRACE(cases[i].serial);
        ClickDevice(tokens[i]);
        EXPECT_EQ(Form()->tabWidget->currentIndex(), 1);
        EXPECT_EQ(Form()->tabWidget_2->currentIndex(), 1);

        Struct_DEVINFO info{};
        ASSERT_EQ(DeviceInfo(tokens[i], &info), SAR_OK);
        char manufacturer[65] = {};
        std::memcpy(manufacturer, info.Manufacturer, sizeof info.Manufacturer);
        const std::string label = std::string("lbl-") + cases[i].serial;
        const std::vector<std::pair<std::string, std::string>> expected = {
            {"Label", label.substr(0, 32)},
            {"SerialNumber", cases[i].shown},
            {"Manufacturer", manufacturer},
            {"HWVersion", std::to_string(info.HWVersion.major) + "." + std::to_string(info.HWVersion.minor)},
            {"TotalSpace", "128 KB"},
            {"FreeSpace", std::to_string(ULONG{info.FreeSpace} / 1024) + " KB"},
            {"SOPIN MaxRetryCount", "10"},
            {"SOPIN RemainRetryCount", "10"},
            {"SOPIN DefaultPIN", "YES"},
            {"USERPIN MaxRetryCount", "10"},
            {"USERPIN RemainRetryCount", "10"},
            {"USERPIN DefaultPIN", "YES"},
        };
        EXPECT_EQ(InfoRows(), expected);
        EXPECT_EQ(Form()->label_bottom->text().toStdString(), std::string("   当前设备SN:") + cases[i].shown);
        EXPECT_TRUE(Enabled(Form()->btn_ChangeLabel));
        EXPECT_TRUE(Enabled(Form()->btn_VerifyPIN));
        EXPECT_TRUE(Enabled(Form()->btn_ChangePIN));
        EXPECT_TRUE(Enabled(Form()->btn_UnblockPIN));
    }
}

// Retry counts follow the token: a used try lowers the remaining count, a lock shows "0(Locked)",
// a changed PIN is no longer the default one.
TEST_F(DevicesTest, PinRowsShowRemainingTriesLockAndDefaultFlag) {
    const std::string name = DeviceNameOf(Plug());
    StartWindow();
    ASSERT_TRUE(WaitUntil([&] { return TopTexts(Form()->treeView_Dev).size() == 1; }));

    SkfSession session = OpenDefaultApplication(name);
    ULONG retry = 0;
    ASSERT_EQ(Op()->SKF_ChangePIN(session.app, 1, Text("12345678"), Text("87654321"), &retry), SAR_OK);
    for (int i = 0; i < 10; ++i)
        Op()->SKF_VerifyPIN(session.app, 1, Text("00000000"), &retry);
    ASSERT_EQ(Op()->SKF_VerifyPIN(session.app, 0, Text("00000000"), &retry), SAR_PIN_INCORRECT);

    ClickDevice(name);
    const auto rows = InfoRows();
    ASSERT_EQ(rows.size(), 12u);
    EXPECT_EQ(rows[7].second, "9");
    EXPECT_EQ(rows[8].second, "YES");
    EXPECT_EQ(rows[10].second, "0(Locked)");
    EXPECT_EQ(rows[11].second, "NO");
}

// A token whose applications cannot be listed has no child; a click on it still shows its key
// information, never a certificate page.
TEST_F(DevicesTest, TokenWithoutChildIsStillATokenWhenClicked) {
    const auto token = Plug();
    const std::string name = DeviceNameOf(token);
    Fault(token, {"sw:INS=0x22,SW=0x6A80"});
    StartWindow();
    ASSERT_TRUE(WaitUntil([&] { return TopTexts(Form()->treeView_Dev).size() == 1; }));
    ASSERT_EQ(TreeLines(Form()->treeView_Dev), std::vector<std::string>{name});

    ClickDevice(name);
    EXPECT_EQ(Form()->tabWidget->currentIndex(), 1);
    EXPECT_EQ(Form()->tabWidget_2->currentIndex(), 1);
    ASSERT_EQ(InfoRows().size(), 12u);
    EXPECT_EQ(InfoRows()[0].second, "vtoken");
}

// The certificate page of a token that is gone stays empty: it never shows the containers of the token
// examined before it.
TEST_F(DevicesTest, CertificatePageOfAVanishedTokenShowsNothingOfAnother) {
    const std::string name = DeviceNameOf(Plug());
    AddContainer(name, ContainerSpec{"left-behind", ContainerSpec::Key::None, MakeCertificate("x"), {}});
    StartWindow();
    ASSERT_TRUE(WaitUntil([&] { return TopTexts(Form()->treeView_Dev).size() == 1; }));
    ClickApplication(name);
    ASSERT_EQ(TopTexts(Form()->treeView), std::vector<std::string>{"left-behind(container)"});

    Window()->chooseApp(QStringLiteral("Orvex5100GM-G VCR 9"));
    EXPECT_EQ(Form()->tabWidget->currentIndex(), 2);
    EXPECT_TRUE(TopTexts(Form()->treeView).empty());
    EXPECT_FALSE(Enabled(Form()->btn_VerifyPIN));
    EXPECT_FALSE(Enabled(Form()->btn_ChangePIN));
    EXPECT_FALSE(Enabled(Form()->btn_UnblockPIN));
}

} // namespace
} // namespace keydesk::test
