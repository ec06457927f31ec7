// C_Initialize / C_Finalize counting and argument validation, C_GetInfo, the function list, the entry
// frame, and what the library answers before it is initialised. Every test runs in a fresh process,
// so each starts with the counter at 0 and no argument validated yet.
#include "pkcs11/entry_frame.h"
#include "pkcs11/p11_env.h"

#include <gtest/gtest.h>
#include <p11-kit/pkcs11.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <dlfcn.h>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

CK_RV RefusedMutexCallback(void*) {
    throw std::logic_error("the library must never call the application's mutex callbacks");
}
CK_RV RefusedCreateMutex(void**) {
    throw std::logic_error("the library must never call the application's mutex callbacks");
}

CK_C_INITIALIZE_ARGS Args(CK_FLAGS flags, bool create, bool destroy, bool lock, bool unlock, void* reserved = nullptr) {
    CK_C_INITIALIZE_ARGS args;
    std::memset(&args, 0, sizeof args);
    args.CreateMutex = create ? &RefusedCreateMutex : nullptr;
    args.DestroyMutex = destroy ? &RefusedMutexCallback : nullptr;
    args.LockMutex = lock ? &RefusedMutexCallback : nullptr;
    args.UnlockMutex = unlock ? &RefusedMutexCallback : nullptr;
    args.flags = flags;
    args.pReserved = reserved;
    return args;
}

bool IsInitialized() {
    CK_INFO info;
    return C_GetInfo(&info) == CKR_OK;
}

TEST(P11Initialize, EveryInitializeNeedsItsOwnFinalize) {
    EXPECT_FALSE(IsInitialized());
    EXPECT_EQ(C_Initialize(nullptr), CKR_OK);
    EXPECT_EQ(C_Initialize(nullptr), CKR_CRYPTOKI_ALREADY_INITIALIZED);
    EXPECT_EQ(C_Finalize(nullptr), CKR_OK);
    EXPECT_TRUE(IsInitialized()) << "one C_Finalize for two C_Initialize must leave the library initialised";
    EXPECT_EQ(C_Finalize(nullptr), CKR_OK);
    EXPECT_FALSE(IsInitialized());
    EXPECT_EQ(C_Finalize(nullptr), CKR_CRYPTOKI_NOT_INITIALIZED);
    // The extra C_Finalize did not push the counter below zero.
    EXPECT_EQ(C_Initialize(nullptr), CKR_OK);
    EXPECT_TRUE(IsInitialized());
}

TEST(P11Initialize, FinalizeRefusesReservedPointerAndKeepsCounter) {
    ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
    int reserved = 0;
    EXPECT_EQ(C_Finalize(&reserved), CKR_ARGUMENTS_BAD);
    EXPECT_TRUE(IsInitialized());
}

TEST(P11Initialize, ConcurrentFinalizesTakeTheLastCountOnce) {
    ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
    CK_RV results[8] = {};
    std::thread threads[8];
    for (int i = 0; i < 8; ++i)
        threads[i] = std::thread([&results, i] { results[i] = C_Finalize(nullptr); });
    for (auto& thread : threads)
        thread.join();
    int accepted = 0;
    for (CK_RV rv : results) {
        EXPECT_TRUE(rv == CKR_OK || rv == CKR_CRYPTOKI_NOT_INITIALIZED) << rv;
        accepted += rv == CKR_OK;
    }
    EXPECT_EQ(accepted, 1);
    EXPECT_EQ(C_Initialize(nullptr), CKR_OK) << "the counter went below zero";
}

struct InitArgsCase {
    const char* name;
    CK_C_INITIALIZE_ARGS args;
    CK_RV expected;
};

void PrintTo(const InitArgsCase& c, std::ostream* os) {
    *os << c.name;
}

class P11InitializeArgs : public ::testing::TestWithParam<InitArgsCase> {};

// Each case is the first C_Initialize of its process, so each one is validated.
TEST_P(P11InitializeArgs, FirstCallValidatesArguments) {
    CK_C_INITIALIZE_ARGS args = GetParam().args;
    EXPECT_EQ(C_Initialize(&args), GetParam().expected);
    EXPECT_EQ(IsInitialized(), GetParam().expected == CKR_OK) << "a refused call must leave the counter alone";
}

int g_reserved;

INSTANTIATE_TEST_SUITE_P(
    Cases, P11InitializeArgs,
    ::testing::Values(
        InitArgsCase{"AllZero", Args(0, false, false, false, false), CKR_OK},
        InitArgsCase{"OsLockingNoCallbacks", Args(CKF_OS_LOCKING_OK, false, false, false, false), CKR_OK},
        InitArgsCase{"CantCreateThreads", Args(CKF_LIBRARY_CANT_CREATE_OS_THREADS, false, false, false, false), CKR_OK},
        InitArgsCase{"AllCallbacksNoFlag", Args(0, true, true, true, true), CKR_OK},
        InitArgsCase{"AllCallbacksOsLocking", Args(CKF_OS_LOCKING_OK, true, true, true, true), CKR_OK},
        InitArgsCase{"KnownFlagBesideUnknownBit", Args(0x4 | CKF_OS_LOCKING_OK, false, false, false, false), CKR_OK},
        InitArgsCase{"UnknownFlagOnly", Args(0x4, false, false, false, false), CKR_ARGUMENTS_BAD},
        InitArgsCase{"OnlyCreateMutex", Args(CKF_OS_LOCKING_OK, true, false, false, false), CKR_ARGUMENTS_BAD},
        InitArgsCase{"ThreeOfFourCallbacks", Args(0, true, true, true, false), CKR_ARGUMENTS_BAD},
        InitArgsCase{"OnlyUnlockMutex", Args(0, false, false, false, true), CKR_ARGUMENTS_BAD},
        InitArgsCase{"ReservedSet", Args(0, false, false, false, false, &g_reserved), CKR_ARGUMENTS_BAD}),
    [](const ::testing::TestParamInfo<InitArgsCase>& param) { return std::string(param.param.name); });

TEST(P11Initialize, RefusedArgumentsAreCheckedAgainOnTheNextCall) {
    CK_C_INITIALIZE_ARGS bad = Args(0x4, false, false, false, false);
    EXPECT_EQ(C_Initialize(&bad), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(C_Initialize(&bad), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(C_Initialize(nullptr), CKR_OK);
}

TEST(P11Initialize, ArgumentsAreNotValidatedOnceOneCallPassed) {
    ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
    ASSERT_EQ(C_Finalize(nullptr), CKR_OK);
    CK_C_INITIALIZE_ARGS bad = Args(0x4, true, false, false, false, &g_reserved);
    EXPECT_EQ(C_Initialize(&bad), CKR_OK);
    EXPECT_EQ(C_Initialize(&bad), CKR_CRYPTOKI_ALREADY_INITIALIZED);
}

TEST(P11GetInfo, FixedTextIsSpacePaddedWithoutTerminator) {
    CK_INFO info;
    EXPECT_EQ(C_GetInfo(&info), CKR_CRYPTOKI_NOT_INITIALIZED);
    ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
    EXPECT_EQ(C_GetInfo(nullptr), CKR_ARGUMENTS_BAD);
    std::memset(&info, 0, sizeof info);
    ASSERT_EQ(C_GetInfo(&info), CKR_OK);
    EXPECT_EQ(info.cryptokiVersion.major, 2);
    EXPECT_EQ(info.cryptokiVersion.minor, 40);
    EXPECT_EQ(info.libraryVersion.major, 1);
    EXPECT_EQ(info.libraryVersion.minor, 20);
    EXPECT_EQ(info.flags, 0u);
    const std::string manufacturer(reinterpret_cast<const char*>(info.manufacturerID), sizeof info.manufacturerID);
    const std::string description(reinterpret_cast<const char*>(info.libraryDescription),
                                  sizeof info.libraryDescription);
    EXPECT_EQ(manufacturer, "Quorvel Technologies Co., Ltd.  ");
    EXPECT_EQ(description, "Quorvel PKCS#11 Library.        ");
}

TEST(P11PadCopy, TooLongTextLeavesFieldUntouched) {
    struct Case {
        const char* text;
        bool fits;
        const char* field;
    } cases[] = {
        {"", true, "    "},
        {"ab", true, "ab  "},
        {"abcd", true, "abcd"},
        {"abcde", false, "xxxx"},
    };
    for (const auto& c : cases) {
        CK_UTF8CHAR field[5] = {'x', 'x', 'x', 'x', 0};
        EXPECT_EQ(keycore::PadCopy(field, 4, c.text), c.fits) << c.text;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(field)), c.field) << c.text;
    }
}

// The function list of the shared library, as a client loads it, against the library's own symbols.
TEST(P11FunctionList, AllFunctionsInStandardOrder) {
    static const char* const kNames[] = {"C_Initialize",
                                         "C_Finalize",
                                         "C_GetInfo",
                                         "C_GetFunctionList",
                                         "C_GetSlotList",
                                         "C_GetSlotInfo",
                                         "C_GetTokenInfo",
                                         "C_GetMechanismList",
                                         "C_GetMechanismInfo",
                                         "C_InitToken",
                                         "C_InitPIN",
                                         "C_SetPIN",
                                         "C_OpenSession",
                                         "C_CloseSession",
                                         "C_CloseAllSessions",
                                         "C_GetSessionInfo",
                                         "C_GetOperationState",
                                         "C_SetOperationState",
                                         "C_Login",
                                         "C_Logout",
                                         "C_CreateObject",
                                         "C_CopyObject",
                                         "C_DestroyObject",
                                         "C_GetObjectSize",
                                         "C_GetAttributeValue",
                                         "C_SetAttributeValue",
                                         "C_FindObjectsInit",
                                         "C_FindObjects",
                                         "C_FindObjectsFinal",
                                         "C_EncryptInit",
                                         "C_Encrypt",
                                         "C_EncryptUpdate",
                                         "C_EncryptFinal",
                                         "C_DecryptInit",
                                         "C_Decrypt",
                                         "C_DecryptUpdate",
                                         "C_DecryptFinal",
                                         "C_DigestInit",
                                         "C_Digest",
                                         "C_DigestUpdate",
                                         "C_DigestKey",
                                         "C_DigestFinal",
                                         "C_SignInit",
                                         "C_Sign",
                                         "C_SignUpdate",
                                         "C_SignFinal",
                                         "C_SignRecoverInit",
                                         "C_SignRecover",
                                         "C_VerifyInit",
                                         "C_Verify",
                                         "C_VerifyUpdate",
                                         "C_VerifyFinal",
                                         "C_VerifyRecoverInit",
                                         "C_VerifyRecover",
                                         "C_DigestEncryptUpdate",
                                         "C_DecryptDigestUpdate",
                                         "C_SignEncryptUpdate",
                                         "C_DecryptVerifyUpdate",
                                         "C_GenerateKey",
                                         "C_GenerateKeyPair",
                                         "C_WrapKey",
                                         "C_UnwrapKey",
                                         "C_DeriveKey",
                                         "C_SeedRandom",
                                         "C_GenerateRandom",
                                         "C_GetFunctionStatus",
                                         "C_CancelFunction",
                                         "C_WaitForSlotEvent"};
    void* library = dlopen(KEYCORE_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto getFunctionList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(library, "C_GetFunctionList"));
    ASSERT_NE(getFunctionList, nullptr);
    EXPECT_EQ(getFunctionList(nullptr), CKR_ARGUMENTS_BAD);
    CK_FUNCTION_LIST_PTR list = nullptr;
    ASSERT_EQ(getFunctionList(&list), CKR_OK);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->version.major, 2);
    EXPECT_EQ(list->version.minor, 40);

    const auto* entries = reinterpret_cast<const unsigned char*>(list) + offsetof(CK_FUNCTION_LIST, C_Initialize);
    ASSERT_EQ(sizeof(CK_FUNCTION_LIST) - offsetof(CK_FUNCTION_LIST, C_Initialize),
              sizeof kNames / sizeof kNames[0] * sizeof(void*));
    for (size_t i = 0; i < sizeof kNames / sizeof kNames[0]; ++i) {
        void* entry = nullptr;
        std::memcpy(&entry, entries + i * sizeof(void*), sizeof entry);
        EXPECT_EQ(entry, dlsym(library, kNames[i])) << "position " << i << " should be " << kNames[i];
    }
    // The library is left loaded: its environment was never built, but unloading is not what this
    // test is about.
}

TEST(P11EntryFrame, EscapingExceptionBecomesGeneralError) {
    EXPECT_EQ(keycore::RunP11Entry([]() -> CK_RV { throw std::runtime_error("boom"); }), CKR_GENERAL_ERROR);
    EXPECT_EQ(keycore::RunP11Entry([](CK_ULONG rv) -> CK_RV { return rv; }, CK_ULONG{CKR_PIN_INCORRECT}),
              CKR_PIN_INCORRECT);
}

TEST(P11BeforeInitialize, CheckingFunctionsRefuseAndConstantAnswersStand) {
    CK_ULONG count = 0;
    CK_SESSION_HANDLE session = 0;
    CK_BYTE random[4];
    EXPECT_EQ(C_GetSlotList(CK_FALSE, nullptr, &count), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(C_GetMechanismList(1, nullptr, &count), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(C_OpenSession(1, CKF_SERIAL_SESSION, nullptr, nullptr, &session), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(C_CloseAllSessions(1), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(C_GenerateRandom(1, random, sizeof random), CKR_CRYPTOKI_NOT_INITIALIZED);
    // Argument checks that need no environment come first.
    EXPECT_EQ(C_GenerateRandom(1, random, 0), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(C_OpenSession(1, CKF_RW_SESSION, nullptr, nullptr, &session), CKR_ARGUMENTS_BAD);
    // The functions without the check answer by their session lookup.
    EXPECT_EQ(C_CloseSession(12345), CKR_SESSION_HANDLE_INVALID);
    EXPECT_EQ(C_SeedRandom(1, random, sizeof random), CKR_OK);
}

TEST(P11Unsupported, AlwaysAnsweredAlsoBeforeInitialize) {
    for (int round = 0; round < 2; ++round) {
        CK_ULONG length = 0;
        CK_OBJECT_HANDLE object = 0;
        EXPECT_EQ(C_GetOperationState(1, nullptr, &length), CKR_FUNCTION_NOT_SUPPORTED);
        EXPECT_EQ(C_SetOperationState(1, nullptr, 0, 0, 0), CKR_FUNCTION_NOT_SUPPORTED);
        EXPECT_EQ(C_CopyObject(1, 2, nullptr, 0, &object), CKR_FUNCTION_NOT_SUPPORTED);
        EXPECT_EQ(C_GetObjectSize(1, 2, &length), CKR_FUNCTION_NOT_SUPPORTED);
        EXPECT_EQ(C_DigestKey(1, 2), CKR_FUNCTION_NOT_SUPPORTED);
        EXPECT_EQ(C_DigestEncryptUpdate(1, nullptr, 0, nullptr, &length), CKR_FUNCTION_NOT_SUPPORTED);
        EXPECT_EQ(C_DecryptDigestUpdate(1, nullptr, 0, nullptr, &length), CKR_FUNCTION_NOT_SUPPORTED);
        EXPECT_EQ(C_SignEncryptUpdate(1, nullptr, 0, nullptr, &length), CKR_FUNCTION_NOT_SUPPORTED);
        EXPECT_EQ(C_DecryptVerifyUpdate(1, nullptr, 0, nullptr, &length), CKR_FUNCTION_NOT_SUPPORTED);
        EXPECT_EQ(C_GetFunctionStatus(1), CKR_FUNCTION_NOT_SUPPORTED);
        EXPECT_EQ(C_CancelFunction(1), CKR_FUNCTION_NOT_SUPPORTED);
        ASSERT_EQ(C_Initialize(nullptr), round == 0 ? CKR_OK : CKR_CRYPTOKI_ALREADY_INITIALIZED);
    }
}

// Whether C_Finalize comes while the waiter is blocked or just before it blocks, the wait must end
// with CKR_CRYPTOKI_NOT_INITIALIZED.
TEST(P11Finalize, ReleasesBlockedSlotEventWait) {
    ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
    CK_RV waited = CKR_OK;
    std::thread waiter([&waited] {
        CK_SLOT_ID slot = 0;
        waited = C_WaitForSlotEvent(0, &slot, nullptr);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(C_Finalize(nullptr), CKR_OK);
    waiter.join();
    EXPECT_EQ(waited, CKR_CRYPTOKI_NOT_INITIALIZED);
}

} // namespace
