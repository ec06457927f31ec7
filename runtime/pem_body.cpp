#include "runtime/pem_body.h"

#include <mbedtls/base64.h>

#include <cstring>
#include <string>

#include "runtime/secure_wipe.h"

namespace keycore {

namespace {

constexpr char kMarker[] = "-----";
constexpr size_t kMarkerLength = sizeof kMarker - 1;

bool IsBase64Char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' ||
           c == '=';
}

// Position of the next marker in [from, end), or end. The text need not be NUL-terminated.
size_t FindMarker(const char* text, size_t from, size_t end) {
    for (size_t i = from; i + kMarkerLength <= end; ++i) {
        if (std::memcmp(text + i, kMarker, kMarkerLength) == 0)
            return i;
    }
    return end;
}

// Padding may only close the text: at most two "=", nothing after them.
bool IsWellFormedBase64(const std::string& chars) {
    if (chars.empty() || chars.size() % 4 != 0)
        return false;
    size_t firstPad = chars.find('=');
    if (firstPad == std::string::npos)
        return true;
    return firstPad >= chars.size() - 2 && chars.find_first_not_of('=', firstPad) == std::string::npos;
}

// Holds the collected base64 characters; a PEM body may be a private key.
class WipedString {
public:
    WipedString() = default;
    WipedString(const WipedString&) = delete;
    WipedString& operator=(const WipedString&) = delete;
    ~WipedString() { SecureWipe(m_text); }
    std::string& text() { return m_text; }

private:
    std::string m_text;
};

} // namespace

long DecodePemBody(const char* text, size_t length, unsigned char* output, size_t capacity) {
    if (text == nullptr || output == nullptr)
        return 0;

    size_t start = 0;
    size_t opening = FindMarker(text, 0, length);
    if (opening < length) {
        size_t closing = FindMarker(text, opening + kMarkerLength, length);
        if (closing == length)
            return -1;
        start = closing + kMarkerLength;
    }

    while (start < length && (text[start] == '\r' || text[start] == '\n'))
        ++start;
    if (start >= length || !IsBase64Char(text[start]))
        return 0;

    size_t end = FindMarker(text, start, length);
    while (end > start && !IsBase64Char(text[end - 1]))
        --end;

    WipedString body;
    body.text().reserve(end - start);
    for (size_t i = start; i < end; ++i) {
        if (IsBase64Char(text[i]))
            body.text().push_back(text[i]);
    }

    const size_t bound = body.text().size() / 4 * 3;
    if (capacity < bound || !IsWellFormedBase64(body.text()))
        return 0;

    size_t decoded = 0;
    int rc = mbedtls_base64_decode(output, capacity, &decoded,
                                   reinterpret_cast<const unsigned char*>(body.text().data()), body.text().size());
    if (rc != 0 || decoded > bound)
        return 0;
    std::memset(output + decoded, 0, bound - decoded);
    return static_cast<long>(bound);
}

} // namespace keycore
