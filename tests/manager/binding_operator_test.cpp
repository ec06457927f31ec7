// The run-time binding of the SKF functions: which names are looked up, what an empty entry answers,
// and loading failures.

#include "gm_skf_operator.h"
#include "keydesk_fixture.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <string>

namespace {

using keydesk::test::BuildPath;

char* Text(std::string& text) {
    return text.data();
}

TEST(BindingOperator, AgainstTheLibraryTwoEntriesStayEmptyAndAnswerMinusOne) {
    CGMSKFOperator skf;
    std::string path = BuildPath("bin/libkeycore.so");
    ASSERT_EQ(skf.LoadSKFAPI(Text(path)), 0);

    // The cancel entry is asked for under a name the library does not export, and the extended
    // container information does not exist there: both stay empty.
    EXPECT_EQ(skf.SKF_CancelWaitForDevEvent(), 0xFFFFFFFFu);
    Struct_ContainerInfo info;
    info.ulContainerType = 77;
    EXPECT_EQ(skf.SKF_ExtGetContainerInfo(nullptr, &info), 0xFFFFFFFFu);
    EXPECT_EQ(info.ulContainerType, 77u) << "an empty entry does nothing";
    EXPECT_EQ(skf.IsValid(), 1);

    // Lock and unlock are exported by the library but never looked up.
    void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(lib, nullptr);
    EXPECT_NE(dlsym(lib, "SKF_LockDev"), nullptr);
    EXPECT_EQ(skf.SKF_LockDev(nullptr, 0), 0xFFFFFFFFu);
    EXPECT_EQ(skf.SKF_UnlockDev(nullptr), 0xFFFFFFFFu);

    // A bound entry reaches the library: a handle it never issued is refused by it, not by the binding.
    EXPECT_EQ(skf.SKF_DisConnectDev(reinterpret_cast<DEVHANDLE>(0x5A5A)), static_cast<ULONG>(SAR_INVALIDHANDLEERR));
    ULONG type = 0;
    EXPECT_EQ(skf.SKF_GetContainerType(reinterpret_cast<HCONTAINER>(0x5A5A), &type),
              static_cast<ULONG>(SAR_INVALIDHANDLEERR));

    // The signing entry point of the class signs nothing.
    ULONG len = 5;
    EXPECT_EQ(skf.SKF_SignData(0, nullptr, nullptr, 0, nullptr, &len), 0u);
    dlclose(lib);
}

TEST(BindingOperator, NamesAreLookedUpAsTheBindingListSays) {
    CGMSKFOperator skf;
    std::string path = KEYDESK_FAKE_SKF_PATH;
    ASSERT_EQ(skf.LoadSKFAPI(Text(path)), 0) << "a library with only a few names still loads";

    EXPECT_EQ(skf.SKF_CancelWaitForDevEvent(), 0xCA0C0001u) << "bound under SKF_cCancelWaitForDevEvent";
    EXPECT_EQ(skf.SKF_LockDev(nullptr, 1), 0xFFFFFFFFu);
    EXPECT_EQ(skf.SKF_UnlockDev(nullptr), 0xFFFFFFFFu);

    Struct_ContainerInfo info;
    EXPECT_EQ(skf.SKF_ExtGetContainerInfo(nullptr, &info), 0xC0470000u);
    EXPECT_EQ(info.ulContainerType, 2u);

    ULONG maxRetry = 0, remain = 0;
    BOOL isDefault = 0;
    EXPECT_EQ(skf.SKF_GetPINInfo(reinterpret_cast<HAPPLICATION>(0x33), 1, &maxRetry, &remain, &isDefault), 0x91000000u);
    EXPECT_EQ(maxRetry, 11u);
    EXPECT_EQ(remain, 0x33u);
    EXPECT_EQ(isDefault, 1);

    // Names the stand-in lacks stay empty; calling them is harmless.
    ULONG size = 0;
    EXPECT_EQ(skf.SKF_EnumApplication(nullptr, nullptr, &size), 0xFFFFFFFFu);
    EXPECT_EQ(skf.SKF_WaitForDevEvent(nullptr, nullptr, nullptr), 0xFFFFFFFFu);
    EXPECT_EQ(skf.SKF_CloseHandle(nullptr), 0xFFFFFFFFu);
    Struct_BLOCKCIPHERPARAM param{};
    EXPECT_EQ(skf.SKF_EncryptInit(nullptr, param), 0xFFFFFFFFu);
    EXPECT_EQ(skf.IsValid(), 1);
}

TEST(BindingOperator, ALibraryThatCannotBeLoadedIsReportedAndLeavesEveryEntryEmpty) {
    CGMSKFOperator skf;
    std::string path = "/nonexistent/libkeycore.so";
    testing::internal::CaptureStderr();
    EXPECT_EQ(skf.LoadSKFAPI(Text(path)), -1);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("/nonexistent/libkeycore.so"), std::string::npos) << err;
    EXPECT_EQ(err.back(), '\n');
    EXPECT_EQ(dlerror(), nullptr) << "the loader's error state is cleared";
    ULONG size = 0;
    EXPECT_EQ(skf.SKF_EnumDev(TRUE, nullptr, &size), 0xFFFFFFFFu);
    EXPECT_EQ(skf.IsValid(), 1);

    // A file that is no library at all.
    std::string notALibrary = BuildPath("CMakeCache.txt");
    testing::internal::CaptureStderr();
    EXPECT_EQ(skf.LoadSKFAPI(Text(notALibrary)), -1);
    EXPECT_FALSE(testing::internal::GetCapturedStderr().empty());
}

} // namespace
