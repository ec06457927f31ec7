#include "vtoken/echo_applet.h"

#include <openssl/rand.h>

namespace vtoken {

namespace {

class EchoApplet : public TokenApplet {
public:
    explicit EchoApplet(const TokenProfile& profile) : m_profile(profile) {}

    std::vector<uint8_t> Execute(const uint8_t* apdu, size_t length) override {
        std::vector<uint8_t> answer;
        if (length == 7 && apdu[0] == 0x80 && apdu[1] == 0x50) {
            answer.resize(static_cast<size_t>(apdu[5]) << 8 | apdu[6]);
            if (!answer.empty() && RAND_bytes(answer.data(), static_cast<int>(answer.size())) != 1)
                return {0x6F, 0x00};
        } else if (length >= 4 && apdu[0] == 0x80 && apdu[1] == 0xEE) {
            answer.resize(static_cast<size_t>(apdu[2]) << 8 | apdu[3]);
            for (size_t i = 0; i < answer.size(); ++i)
                answer[i] = static_cast<uint8_t>(i);
        } else {
            answer.assign(apdu, apdu + length);
        }
        answer.push_back(0x90);
        answer.push_back(0x00);
        return answer;
    }

    void PowerCycle() override {}
    std::string Serial() const override { return m_profile.serial; }
    std::string Label() const override { return m_profile.label; }

private:
    TokenProfile m_profile;
};

} // namespace

std::unique_ptr<TokenApplet> MakeEchoApplet(const TokenProfile& profile) {
    return std::make_unique<EchoApplet>(profile);
}

} // namespace vtoken
