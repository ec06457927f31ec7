#include "p11_fixture.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace keycore::test {

void P11Test::TearDown() {
    C_Finalize(nullptr);
    VtokenTest::TearDown();
}

std::vector<CK_SLOT_ID> P11Test::InitializeWithTokens(const std::vector<std::vector<std::string>>& tokens) {
    for (const auto& options : tokens)
        m_tokens.push_back(Plug(options));
    EXPECT_EQ(C_Initialize(nullptr), CKR_OK);
    EXPECT_TRUE(WaitForPresentSlots(tokens.size()));
    return PresentSlots();
}

bool P11Test::WaitForPresentSlots(CK_ULONG count) {
    // The monitor reports a plug or unplug within milliseconds; the bound only keeps a broken build
    // from hanging.
    for (int i = 0; i < 2000; ++i) {
        CK_ULONG present = 0;
        if (C_GetSlotList(CK_TRUE, nullptr, &present) == CKR_OK && present == count)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

std::vector<CK_SLOT_ID> P11Test::PresentSlots() {
    CK_ULONG count = 0;
    EXPECT_EQ(C_GetSlotList(CK_TRUE, nullptr, &count), CKR_OK);
    std::vector<CK_SLOT_ID> slots(count);
    EXPECT_EQ(C_GetSlotList(CK_TRUE, slots.data(), &count), CKR_OK);
    slots.resize(count);
    return slots;
}

CK_SESSION_HANDLE P11Test::OpenSession(CK_SLOT_ID slot, CK_FLAGS flags) {
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    EXPECT_EQ(C_OpenSession(slot, flags, nullptr, nullptr, &session), CKR_OK);
    return session;
}

CK_SESSION_INFO P11Test::SessionInfo(CK_SESSION_HANDLE session) {
    CK_SESSION_INFO info;
    std::memset(&info, 0xA5, sizeof info);
    EXPECT_EQ(C_GetSessionInfo(session, &info), CKR_OK);
    return info;
}

} // namespace keycore::test
