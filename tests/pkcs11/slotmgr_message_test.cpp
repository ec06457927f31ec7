// The message one process sends the others: what goes out is what comes back, and damaged or short
// messages from another process are refused without reading past what arrived.
#include "pkcs11/notify_message.h"

#include <gtest/gtest.h>

#include <cstring>

namespace keycore {
namespace {

KV_SLOT_EVENT SampleEvent() {
    KV_SLOT_EVENT event;
    event.slotId = 3;
    event.ulEvent = 0x10A;
    event.ulParam = 77;
    event.ulValue = 9;
    event.devicePath = "004:001";
    event.deviceName = "Orvex5100GM-G VCR 3";
    return event;
}

TEST(NotifyMessage, RoundTripKeepsEveryFieldAndTheWireLayout) {
    const KV_SLOT_EVENT sent = SampleEvent();
    const std::vector<uint8_t> bytes = notify_message::Serialize(sent);
    const uint32_t recordLength = static_cast<uint32_t>(sent.devicePath.size() + sent.deviceName.size() + 34);
    ASSERT_EQ(bytes.size(), 8 + recordLength);
    uint32_t header[2];
    std::memcpy(header, bytes.data(), sizeof header);
    EXPECT_EQ(header[0], 0x10Au);
    EXPECT_EQ(header[1], recordLength);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data() + 40)), sent.devicePath);

    KV_SLOT_EVENT received;
    ASSERT_TRUE(notify_message::Parse(bytes.data(), bytes.size(), received));
    EXPECT_EQ(received.slotId, sent.slotId);
    EXPECT_EQ(received.ulEvent, sent.ulEvent);
    EXPECT_EQ(received.ulParam, sent.ulParam);
    EXPECT_EQ(received.ulValue, sent.ulValue);
    EXPECT_EQ(received.devicePath, sent.devicePath);
    EXPECT_EQ(received.deviceName, sent.deviceName);
}

TEST(NotifyMessage, EmptyTextsTravelToo) {
    KV_SLOT_EVENT sent;
    sent.slotId = 1;
    sent.ulEvent = 9;
    const std::vector<uint8_t> bytes = notify_message::Serialize(sent);
    ASSERT_EQ(bytes.size(), 8u + 34u);
    KV_SLOT_EVENT received;
    ASSERT_TRUE(notify_message::Parse(bytes.data(), bytes.size(), received));
    EXPECT_EQ(received.ulEvent, 9u);
    EXPECT_TRUE(received.devicePath.empty());
    EXPECT_TRUE(received.deviceName.empty());
}

TEST(NotifyMessage, TooLongForTheChannelIsNotBuilt) {
    KV_SLOT_EVENT event = SampleEvent();
    event.devicePath.assign(2048, 'p');
    EXPECT_TRUE(notify_message::Serialize(event).empty());
}

TEST(NotifyMessage, DamagedMessagesAreRefusedOrCutAtWhatArrived) {
    const std::vector<uint8_t> good = notify_message::Serialize(SampleEvent());
    struct Case {
        const char* what;
        size_t length;
        uint32_t recordLength;
        bool accepted;
    };
    const Case cases[] = {
        {"header only", 8, 60, false},
        {"fixed part cut", 39, 60, false},
        {"record length below 24", good.size(), 23, false},
        {"record length 24 but the fixed part needs 32", good.size(), 24, false},
        {"record length far beyond the bytes", good.size(), 0xFFFFFFFF, true},
        {"record length 32: no texts", good.size(), 32, true},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes(good.begin(), good.begin() + static_cast<long>(c.length));
        std::memcpy(bytes.data() + 4, &c.recordLength, sizeof c.recordLength);
        KV_SLOT_EVENT event;
        event.slotId = 99;
        EXPECT_EQ(notify_message::Parse(bytes.data(), bytes.size(), event), c.accepted) << c.what;
        if (!c.accepted) {
            EXPECT_EQ(event.slotId, 99u) << c.what << ": a refused message must leave the event alone";
        }
    }
    KV_SLOT_EVENT event;
    EXPECT_FALSE(notify_message::Parse(nullptr, 100, event));
}

TEST(NotifyMessage, TextsWithoutTerminatorEndAtTheMessage) {
    std::vector<uint8_t> bytes = notify_message::Serialize(SampleEvent());
    bytes.resize(40 + 3); // path cut in the middle, no zero bytes left
    KV_SLOT_EVENT event;
    ASSERT_TRUE(notify_message::Parse(bytes.data(), bytes.size(), event));
    EXPECT_EQ(event.devicePath, "004");
    EXPECT_TRUE(event.deviceName.empty());
}

} // namespace
} // namespace keycore
