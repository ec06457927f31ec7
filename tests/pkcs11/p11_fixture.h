#pragma once
// A vtoken daemon with tokens plugged before the library is initialised, and the calls every
// PKCS#11 test repeats.

#include "vtoken_test_support.h"

#include <p11-kit/pkcs11.h>

#include <string>
#include <vector>

namespace keycore::test {

class P11Test : public vtoken::test::VtokenTest {
protected:
    void TearDown() override;

    // Plugs the tokens (each entry: vtoken plug options), initialises the library and returns the
    // slots with a token, ascending.
    std::vector<CK_SLOT_ID> InitializeWithTokens(const std::vector<std::vector<std::string>>& tokens);
    // Waits until C_GetSlotList(TRUE) lists exactly `count` slots; false when it never does.
    bool WaitForPresentSlots(CK_ULONG count);
    std::vector<CK_SLOT_ID> PresentSlots();

    CK_SESSION_HANDLE OpenSession(CK_SLOT_ID slot, CK_FLAGS flags);
    CK_SESSION_INFO SessionInfo(CK_SESSION_HANDLE session);

    std::vector<vtoken::test::PluggedToken> m_tokens;
};

// The PINs of a new virtual token.
inline constexpr char kDefaultPin[] = "12345678";

inline CK_UTF8CHAR_PTR Pin(const char* text) {
    return reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(text));
}

} // namespace keycore::test
