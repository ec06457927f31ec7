// Several processes using the library at once over virtual tokens: this test process and p11_peer
// processes it drives. They share the slot table and reach each other through the notification
// channel, so a token plugged anywhere, a dead process and a wrong PIN are seen by all.
#include "p11_fixture.h"
#include "p11_peer_driver.h"

#include "pkcs11/slot_mgr.h"
#include "runtime/process_notifier.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <thread>

namespace keycore::test {
namespace {

using Numbers = std::vector<unsigned long>;

class P11MultiProcess : public P11Test {
protected:
    void TearDown() override {
        for (auto& peer : m_peers) {
            if (peer->Pid() > 0) {
                EXPECT_EQ(peer->Stop(), 0) << "a peer did not leave cleanly";
            }
        }
        m_peers.clear();
        P11Test::TearDown();
    }

    // Starts a peer and initialises the library in it.
    PeerProcess& StartPeer() {
        m_peers.push_back(std::make_unique<PeerProcess>());
        PeerProcess& peer = *m_peers.back();
        EXPECT_TRUE(peer.Start());
        EXPECT_EQ(peer.Call("init"), Numbers{CKR_OK});
        return peer;
    }

    // Polls until the condition holds; the bound only keeps a broken build from hanging.
    static bool Eventually(const std::function<bool()>& condition) {
        for (int i = 0; i < 1000; ++i) {
            if (condition())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return condition();
    }

    // The next slot event of this process, without blocking forever.
    static CK_SLOT_ID NextOwnEvent() {
        CK_SLOT_ID slot = 0;
        Eventually([&slot] { return C_WaitForSlotEvent(CKF_DONT_BLOCK, &slot, nullptr) == CKR_OK; });
        return slot;
    }

    static std::string FifoOf(unsigned long pid) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, "_%08lx", pid);
        return "/tmp/" + CSlotManager::NotifyChannelName() + suffix;
    }

    static bool Exists(const std::string& path) {
        struct stat info;
        return stat(path.c_str(), &info) == 0;
    }

    std::vector<std::unique_ptr<PeerProcess>> m_peers;
};

// Three processes wait for slot events while tokens come and go: whichever process's monitor sees the
// device, every process lists it under the same identifier and every wait returns that identifier.
TEST_F(P11MultiProcess, TokensPluggedWhileAllRunAreSeenByEachUnderOneId) {
    ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
    CK_SLOT_ID none = 0;
    ASSERT_EQ(C_WaitForSlotEvent(CKF_DONT_BLOCK, &none, nullptr), CKR_NO_EVENT);
    PeerProcess& first = StartPeer();
    PeerProcess& second = StartPeer();
    for (PeerProcess* peer : {&first, &second})
        ASSERT_EQ(peer->Call("poll"), (Numbers{CKR_NO_EVENT, 0}));

    const std::vector<std::string> kinds = {"bot", "hid"};
    std::vector<CK_SLOT_ID> present;
    for (const std::string& kind : kinds) {
        for (PeerProcess* peer : {&first, &second})
            ASSERT_TRUE(peer->Send("wait"));
        m_tokens.push_back(Plug({"--kind", kind}));
        const CK_SLOT_ID slot = NextOwnEvent();
        ASSERT_NE(slot, 0u) << "no event in the test process for the " << kind << " token";
        for (PeerProcess* peer : {&first, &second})
            EXPECT_EQ(PeerProcess::Numbers(peer->Read()), (Numbers{CKR_OK, slot})) << kind;
        present.push_back(slot);
        ASSERT_TRUE(WaitForPresentSlots(present.size()));
        EXPECT_EQ(PresentSlots(), present);
        Numbers listed{CKR_OK, present.size()};
        listed.insert(listed.end(), present.begin(), present.end());
        for (PeerProcess* peer : {&first, &second})
            EXPECT_TRUE(Eventually([&] { return peer->Call("list 1") == listed; })) << kind;
    }
    EXPECT_EQ(present, (std::vector<CK_SLOT_ID>{1, 2}));

    // The first token leaves: its slot is reported once more, stays in the full list and leaves the
    // list of present tokens, in every process.
    for (PeerProcess* peer : {&first, &second})
        ASSERT_TRUE(peer->Send("wait"));
    ASSERT_EQ(vtoken::test::RunTool({"unplug", m_tokens[0].id}).exitCode, 0);
    EXPECT_EQ(NextOwnEvent(), present[0]);
    for (PeerProcess* peer : {&first, &second}) {
        EXPECT_EQ(PeerProcess::Numbers(peer->Read()), (Numbers{CKR_OK, present[0]}));
        EXPECT_TRUE(Eventually([&] { return peer->Call("list 1") == Numbers{CKR_OK, 1, present[1]}; }));
        EXPECT_EQ(peer->Call("list 0"), (Numbers{CKR_OK, 2, present[0], present[1]}));
    }
}

// A process that starts while two tokens are plugged builds both slots from the shared table at
// initialisation: they are listed at once, without any event.
TEST_F(P11MultiProcess, LateProcessBuildsSlotsFromTheSharedTable) {
    const auto slots = InitializeWithTokens({{"--kind", "bot"}, {"--kind", "hid"}});
    ASSERT_EQ(slots, (std::vector<CK_SLOT_ID>{1, 2}));
    PeerProcess& late = StartPeer();
    EXPECT_EQ(late.Call("list 1"), (Numbers{CKR_OK, 2, 1, 2}));
    EXPECT_EQ(late.Call("list 0"), (Numbers{CKR_OK, 2, 1, 2}));
    EXPECT_EQ(late.Call("poll"), (Numbers{CKR_NO_EVENT, 0}));
    // Its slots carry working tokens, not just identifiers.
    const Numbers opened = late.Call("open 2 rw");
    ASSERT_EQ(opened.size(), 2u);
    ASSERT_EQ(opened[0], CKR_OK);
    EXPECT_EQ(late.Call("login " + std::to_string(opened[1]) + " user " + kDefaultPin), Numbers{CKR_OK});
}

// A process started after a token left finds the empty slot in the table: listed, without token, and
// filled when the token comes back.
TEST_F(P11MultiProcess, LateProcessKeepsTheSlotOfAGoneToken) {
    const auto slots = InitializeWithTokens({{"--kind", "bot"}, {"--kind", "hid"}});
    ASSERT_EQ(slots, (std::vector<CK_SLOT_ID>{1, 2}));
    ASSERT_EQ(vtoken::test::RunTool({"unplug", m_tokens[1].id}).exitCode, 0);
    ASSERT_TRUE(WaitForPresentSlots(1));
    const CK_SLOT_ID kept = PresentSlots()[0];
    const CK_SLOT_ID gone = kept == 1 ? 2 : 1;

    PeerProcess& late = StartPeer();
    EXPECT_EQ(late.Call("list 1"), (Numbers{CKR_OK, 1, kept}));
    EXPECT_EQ(late.Call("list 0"), (Numbers{CKR_OK, 2, 1, 2}));
    EXPECT_EQ(late.Call("open " + std::to_string(gone) + " ro")[0], CKR_TOKEN_NOT_PRESENT);

    ASSERT_EQ(late.Call("poll"), (Numbers{CKR_NO_EVENT, 0}));
    ASSERT_EQ(vtoken::test::RunTool({"plug", "--kind", "hid", "--serial", m_tokens[1].serial}).exitCode, 0);
    ASSERT_TRUE(WaitForPresentSlots(2));
    EXPECT_TRUE(Eventually([&] { return late.Call("list 1") == Numbers{CKR_OK, 2, 1, 2}; }));
    EXPECT_EQ(late.Call("poll"), (Numbers{CKR_OK, gone}));
    const Numbers opened = late.Call("open " + std::to_string(gone) + " rw");
    ASSERT_EQ(opened.size(), 2u);
    ASSERT_EQ(opened[0], CKR_OK);
    EXPECT_EQ(late.Call("login " + std::to_string(opened[1]) + " user " + kDefaultPin), Numbers{CKR_OK});
}

// A peer killed with SIGKILL leaves its registry entry and FIFO behind; the next broadcast of any
// process removes both and still reaches the live peers.
TEST_F(P11MultiProcess, KilledPeerIsPrunedByTheNextBroadcast) {
    const auto slots = InitializeWithTokens({{"--kind", "bot"}});
    ASSERT_EQ(slots.size(), 1u);
    PeerProcess& victim = StartPeer();
    PeerProcess& survivor = StartPeer();
    const Numbers victimPid = victim.Call("pid");
    ASSERT_EQ(victimPid.size(), 2u);
    const std::string victimFifo = FifoOf(victimPid[1]);
    const Numbers opened = survivor.Call("open 1 rw");
    ASSERT_EQ(opened.size(), 2u);
    const std::string session = std::to_string(opened[1]);
    ASSERT_EQ(survivor.Call("login " + session + " user " + kDefaultPin), Numbers{CKR_OK});

    ProcessNotifier registry;
    ASSERT_EQ(registry.Open(CSlotManager::NotifyChannelName().c_str()), 0);
    EXPECT_EQ(registry.RegisteredCount(), 3);
    EXPECT_TRUE(Exists(victimFifo));
    victim.Kill();
    EXPECT_EQ(registry.RegisteredCount(), 3) << "nobody has noticed the death yet";
    EXPECT_TRUE(Exists(victimFifo));

    // A wrong PIN here is broadcast to every other process.
    const CK_SESSION_HANDLE own = OpenSession(slots[0], CKF_SERIAL_SESSION);
    EXPECT_EQ(C_Login(own, CKU_USER, Pin("87654321"), 8), CKR_PIN_INCORRECT);
    EXPECT_EQ(registry.RegisteredCount(), 2);
    EXPECT_FALSE(Exists(victimFifo));
    EXPECT_TRUE(Eventually([&] { return survivor.Call("state " + session) == Numbers{CKR_OK, CKS_RW_PUBLIC_SESSION}; }))
        << "the live peer was logged out by the broadcast";
}

// What one process does to the token's PINs logs out every other process holding the token: the
// typist runs `action` on its own RW session (not logged in), and afterwards `pinAfter` is the user
// PIN that works again everywhere.
struct PinAction {
    const char* name;
    std::string action;   // the peer command, followed by the session handle's place "%s"
    CK_RV expected;
    std::string pinAfter;
};

void PrintTo(const PinAction& action, std::ostream* os) {
    *os << action.name;
}

class P11PinBroadcast : public P11MultiProcess, public ::testing::WithParamInterface<PinAction> {};

TEST_P(P11PinBroadcast, LogsOutTheOtherProcesses) {
    const PinAction& param = GetParam();
    const auto slots = InitializeWithTokens({{"--kind", "hid"}});
    ASSERT_EQ(slots.size(), 1u);
    const CK_SESSION_HANDLE own = OpenSession(slots[0], CKF_SERIAL_SESSION | CKF_RW_SESSION);
    ASSERT_EQ(C_Login(own, CKU_USER, Pin(kDefaultPin), 8), CKR_OK);

    PeerProcess& typist = StartPeer();
    PeerProcess& other = StartPeer();
    std::vector<std::string> sessions;
    for (PeerProcess* peer : {&typist, &other}) {
        const Numbers opened = peer->Call("open 1 rw");
        ASSERT_EQ(opened.size(), 2u);
        ASSERT_EQ(opened[0], CKR_OK);
        sessions.push_back(std::to_string(opened[1]));
    }
    ASSERT_EQ(other.Call("login " + sessions[1] + " user " + kDefaultPin), Numbers{CKR_OK});
    ASSERT_EQ(other.Call("state " + sessions[1]), (Numbers{CKR_OK, CKS_RW_USER_FUNCTIONS}));

    std::string command = param.action;
    command.replace(command.find("%s"), 2, sessions[0]);
    EXPECT_EQ(typist.Call(command), Numbers{param.expected});
    EXPECT_TRUE(Eventually([&] { return SessionInfo(own).state == CKS_RW_PUBLIC_SESSION; }));
    EXPECT_TRUE(Eventually([&] { return other.Call("state " + sessions[1]) == Numbers{CKR_OK, CKS_RW_PUBLIC_SESSION}; }));
    EXPECT_EQ(typist.Call("state " + sessions[0]), (Numbers{CKR_OK, CKS_RW_PUBLIC_SESSION}));
    // Logged out, not locked out.
    EXPECT_EQ(C_Login(own, CKU_USER, Pin(param.pinAfter.c_str()), param.pinAfter.size()), CKR_OK);
    EXPECT_EQ(other.Call("login " + sessions[1] + " user " + param.pinAfter), Numbers{CKR_OK});
}

INSTANTIATE_TEST_SUITE_P(Actions, P11PinBroadcast,
                         ::testing::Values(PinAction{"WrongPin", "login %s user 87654321", CKR_PIN_INCORRECT, kDefaultPin},
                                           PinAction{"PinChange", "setpin %s 12345678 changed-1", CKR_OK, "changed-1"}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

// C_InitToken in one process (without sessions there) logs out the others, which then drop and
// re-attach their token object: it keeps working in them.
TEST_F(P11MultiProcess, InitTokenElsewhereLogsOutAndReattaches) {
    const auto slots = InitializeWithTokens({{"--kind", "bot"}});
    ASSERT_EQ(slots.size(), 1u);
    const CK_SESSION_HANDLE own = OpenSession(slots[0], CKF_SERIAL_SESSION | CKF_RW_SESSION);
    ASSERT_EQ(C_Login(own, CKU_USER, Pin(kDefaultPin), 8), CKR_OK);
    PeerProcess& initializer = StartPeer();
    EXPECT_EQ(initializer.Call(std::string("inittoken 1 ") + kDefaultPin), Numbers{CKR_OK});
    EXPECT_TRUE(Eventually([&] { return SessionInfo(own).state == CKS_RW_PUBLIC_SESSION; }));
    // The re-attach may still be running; the token is usable once it is done.
    EXPECT_TRUE(Eventually([&] { return C_Login(own, CKU_USER, Pin(kDefaultPin), 8) == CKR_OK; }));
    CK_TOKEN_INFO info{};
    EXPECT_EQ(C_GetTokenInfo(slots[0], &info), CKR_OK);
    EXPECT_EQ(PresentSlots(), slots);
}

// The process whose monitor scans the buses leaves; another process's monitor takes over, and the
// tokens it then finds reach the remaining peers through the channel.
TEST_F(P11MultiProcess, AnotherProcessTakesOverWhenTheScannerLeaves) {
    PeerProcess& scanner = StartPeer();
    ASSERT_EQ(scanner.Call("poll"), (Numbers{CKR_NO_EVENT, 0}));
    ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
    PeerProcess& watcher = StartPeer();
    m_tokens.push_back(Plug({"--kind", "bot"}));
    ASSERT_TRUE(WaitForPresentSlots(1));
    EXPECT_TRUE(Eventually([&] { return watcher.Call("list 1") == Numbers{CKR_OK, 1, 1}; }));

    EXPECT_EQ(scanner.Stop(), 0);
    ASSERT_EQ(watcher.Call("poll"), (Numbers{CKR_NO_EVENT, 0}));
    m_tokens.push_back(Plug({"--kind", "hid"}));
    ASSERT_TRUE(WaitForPresentSlots(2));
    EXPECT_EQ(PresentSlots(), (std::vector<CK_SLOT_ID>{1, 2}));
    EXPECT_TRUE(Eventually([&] { return watcher.Call("list 1") == Numbers{CKR_OK, 2, 1, 2}; }));
    EXPECT_EQ(watcher.Call("poll"), (Numbers{CKR_OK, 2}));
}

// A thread blocked in C_WaitForSlotEvent is released by C_Finalize on another thread, while a peer
// keeps the channel busy; after that every wait answers at once.
TEST_F(P11MultiProcess, FinalizeReleasesABlockedWaitWithTokensPresent) {
    const auto slots = InitializeWithTokens({{"--kind", "bot"}});
    ASSERT_EQ(slots.size(), 1u);
    StartPeer();
    CK_SLOT_ID drained = 0;
    while (C_WaitForSlotEvent(CKF_DONT_BLOCK, &drained, nullptr) == CKR_OK) {
    }
    std::atomic<bool> returned{false};
    CK_RV waited = CKR_OK;
    std::thread waiter([&] {
        CK_SLOT_ID slot = 0;
        waited = C_WaitForSlotEvent(0, &slot, nullptr);
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(returned) << "the wait must block while nothing happens";
    ASSERT_EQ(C_Finalize(nullptr), CKR_OK);
    waiter.join();
    EXPECT_EQ(waited, CKR_CRYPTOKI_NOT_INITIALIZED);
    CK_SLOT_ID slot = 0;
    EXPECT_EQ(C_WaitForSlotEvent(0, &slot, nullptr), CKR_CRYPTOKI_NOT_INITIALIZED);
}

} // namespace
} // namespace keycore::test
