// The buffered message reader of the daemon's socket protocol: whatever way the bytes are cut by
// the stream, each call yields exactly one whole message, in order.

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include <sys/socket.h>
#include <unistd.h>

#include "vtoken/wire_protocol.h"

namespace {

using Bytes = std::vector<uint8_t>;

class SocketPair {
public:
    SocketPair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, m_fds), 0); }
    ~SocketPair() {
        ::close(m_fds[0]);
        if (m_fds[1] >= 0)
            ::close(m_fds[1]);
    }
    int Reader() const { return m_fds[0]; }
    void Send(const Bytes& bytes) { ASSERT_TRUE(vtoken::wire::SendAll(m_fds[1], bytes.data(), bytes.size())); }
    void CloseWriter() {
        ::close(m_fds[1]);
        m_fds[1] = -1;
    }

private:
    int m_fds[2] = {-1, -1};
};

Bytes Message(size_t length, uint8_t seed) {
    vtoken::wire::Writer writer;
    for (size_t i = 0; i < length; ++i)
        writer.U8(static_cast<uint8_t>(seed + i));
    return writer.Finish();
}

Bytes BodyOf(const Bytes& message) {
    return Bytes(message.begin() + 4, message.end());
}

TEST(WireMessageReader, MessagesCutAnyWayComeOutWholeAndInOrder) {
    struct Case {
        const char* what;
        std::vector<size_t> lengths;
        size_t chunk; // bytes per send; 0: everything in one send
    };
    const Case cases[] = {
        {"one message, one send", {7}, 0},
        {"three messages in one send", {3, 0, 70}, 0},
        {"prefix cut in the middle", {9, 5}, 2},
        {"byte by byte", {4, 1}, 1},
        {"longer than the first buffer", {40000, 12, 20000}, 0},
        {"long message in odd pieces", {40000, 3}, 4097},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SocketPair pair;
        std::vector<Bytes> messages;
        Bytes stream;
        for (size_t i = 0; i < c.lengths.size(); ++i) {
            messages.push_back(Message(c.lengths[i], static_cast<uint8_t>(i * 31)));
            stream.insert(stream.end(), messages.back().begin(), messages.back().end());
        }
        // The stream is written from a second thread so that large messages cannot fill the socket.
        std::thread writer([&] {
            const size_t step = c.chunk ? c.chunk : stream.size();
            for (size_t at = 0; at < stream.size(); at += step)
                pair.Send(Bytes(stream.begin() + static_cast<std::ptrdiff_t>(at),
                                stream.begin() + static_cast<std::ptrdiff_t>(std::min(stream.size(), at + step))));
        });
        vtoken::wire::MessageReader reader;
        Bytes body;
        for (const Bytes& message : messages) {
            ASSERT_TRUE(reader.Next(pair.Reader(), &body));
            EXPECT_EQ(body, BodyOf(message));
        }
        writer.join();
        pair.CloseWriter();
        EXPECT_FALSE(reader.Next(pair.Reader(), &body)) << "the peer has gone";
    }
}

TEST(WireMessageReader, OverLongOrCutMessagesEndTheStream) {
    {
        SocketPair pair;
        const uint32_t tooLong = vtoken::wire::kMaxMessage + 1;
        pair.Send({static_cast<uint8_t>(tooLong), static_cast<uint8_t>(tooLong >> 8),
                   static_cast<uint8_t>(tooLong >> 16), static_cast<uint8_t>(tooLong >> 24)});
        vtoken::wire::MessageReader reader;
        Bytes body;
        EXPECT_FALSE(reader.Next(pair.Reader(), &body));
    }
    {
        SocketPair pair;
        Bytes cut = Message(10, 1);
        cut.resize(8); // the peer goes away in the middle of the body
        pair.Send(cut);
        pair.CloseWriter();
        vtoken::wire::MessageReader reader;
        Bytes body;
        EXPECT_FALSE(reader.Next(pair.Reader(), &body));
    }
}

} // namespace
