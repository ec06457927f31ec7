#include "vtoken/applet/image_store.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

namespace vtoken {
namespace {

constexpr uint8_t kMagic[8] = {'V', 'T', 'O', 'K', 'I', 'M', 'G', 0};
constexpr uint32_t kFormatVersion = 1;
constexpr size_t kDigestSize = SHA256_DIGEST_LENGTH;

class ImageWriter {
public:
    void U8(uint8_t v) { m_out.push_back(v); }
    void U16(uint16_t v) {
        U8(static_cast<uint8_t>(v >> 8));
        U8(static_cast<uint8_t>(v));
    }
    void U32(uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            U8(static_cast<uint8_t>(v >> shift));
    }
    void Bytes(const uint8_t* p, size_t n) {
        U32(static_cast<uint32_t>(n));
        m_out.insert(m_out.end(), p, p + n);
    }
    void Blob(const std::vector<uint8_t>& v) { Bytes(v.data(), v.size()); }
    void Text(const std::string& s) { Bytes(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }
    std::vector<uint8_t>& Out() { return m_out; }

private:
    std::vector<uint8_t> m_out;
};

// Reads what ImageWriter wrote; the first overrun marks the reader failed and every later read
// returns zero, so a parse is checked once at the end.
class ImageReader {
public:
    ImageReader(const uint8_t* p, size_t n) : m_p(p), m_n(n) {}
    bool Failed() const { return m_failed; }
    bool AtEnd() const { return m_pos == m_n; }
    void Fail() { m_failed = true; }
    uint8_t U8() { return Take(1) ? m_p[m_pos++] : 0; }
    uint16_t U16() {
        uint16_t hi = U8();
        return static_cast<uint16_t>((hi << 8) | U8());
    }
    uint32_t U32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v = (v << 8) | U8();
        return v;
    }
    std::vector<uint8_t> Blob() {
        uint32_t n = U32();
        if (!Take(n))
            return {};
        std::vector<uint8_t> v(m_p + m_pos, m_p + m_pos + n);
        m_pos += n;
        return v;
    }
    std::string Text() {
        std::vector<uint8_t> v = Blob();
        return std::string(v.begin(), v.end());
    }
    // A count of records that follow; each record takes at least one byte, so a count larger than
    // what is left is a corrupt image (and would make the parser allocate without bound).
    uint32_t Count() {
        uint32_t n = U32();
        if (n > m_n - m_pos)
            m_failed = true;
        return m_failed ? 0 : n;
    }

private:
    bool Take(size_t n) {
        if (m_failed || m_n - m_pos < n) {
            m_failed = true;
            return false;
        }
        return true;
    }
    const uint8_t* m_p;
    size_t m_n;
    size_t m_pos = 0;
    bool m_failed = false;
};

void WritePin(ImageWriter& w, const PinRecord& pin) {
    w.Text(pin.value);
    w.U8(pin.maxRetries);
    w.U8(pin.triesLeft);
    w.U8(pin.isDefault ? 1 : 0);
}

PinRecord ReadPin(ImageReader& r) {
    PinRecord pin;
    pin.value = r.Text();
    pin.maxRetries = r.U8();
    pin.triesLeft = r.U8();
    uint8_t isDefault = r.U8();
    if (isDefault > 1 || pin.triesLeft > pin.maxRetries || pin.maxRetries == 0 || pin.maxRetries > 15)
        r.Fail();
    pin.isDefault = isDefault == 1;
    return pin;
}

void WriteFiles(ImageWriter& w, const std::map<std::string, TokenFile>& files) {
    w.U32(static_cast<uint32_t>(files.size()));
    for (const auto& [name, file] : files) {
        w.Text(name);
        w.U8(file.readRights);
        w.U8(file.writeRights);
        w.Blob(file.content);
    }
}

std::map<std::string, TokenFile> ReadFiles(ImageReader& r) {
    std::map<std::string, TokenFile> files;
    uint32_t count = r.Count();
    for (uint32_t i = 0; i < count && !r.Failed(); ++i) {
        std::string name = r.Text();
        TokenFile file;
        file.readRights = r.U8();
        file.writeRights = r.U8();
        file.content = r.Blob();
        file.size = static_cast<uint32_t>(file.content.size());
        if (name.empty() || !files.emplace(name, std::move(file)).second)
            r.Fail();
    }
    return files;
}

void WriteKeyPair(ImageWriter& w, const KeyPairRecord& key) {
    w.U8(static_cast<uint8_t>(key.kind));
    w.U32(key.bits);
    w.Blob(key.privateKeyDer);
}

KeyPairRecord ReadKeyPair(ImageReader& r) {
    KeyPairRecord key;
    uint8_t kind = r.U8();
    if (kind > static_cast<uint8_t>(KeyKind::Sm2))
        r.Fail();
    key.kind = static_cast<KeyKind>(kind);
    key.bits = r.U32();
    key.privateKeyDer = r.Blob();
    return key;
}

void WriteContainers(ImageWriter& w, const std::map<std::string, ContainerRecord>& containers) {
    w.U32(static_cast<uint32_t>(containers.size()));
    for (const auto& [name, c] : containers) {
        w.Text(name);
        w.U16(c.id);
        WriteKeyPair(w, c.signingKey);
        WriteKeyPair(w, c.exchangeKey);
        w.Blob(c.signingCertificate);
        w.Blob(c.exchangeCertificate);
    }
}

std::map<std::string, ContainerRecord> ReadContainers(ImageReader& r) {
    std::map<std::string, ContainerRecord> containers;
    uint32_t count = r.Count();
    for (uint32_t i = 0; i < count && !r.Failed(); ++i) {
        std::string name = r.Text();
        ContainerRecord c;
        c.id = r.U16();
        c.signingKey = ReadKeyPair(r);
        c.exchangeKey = ReadKeyPair(r);
        c.signingCertificate = r.Blob();
        c.exchangeCertificate = r.Blob();
        if (name.empty() || !containers.emplace(name, std::move(c)).second)
            r.Fail();
    }
    return containers;
}

void Digest(const uint8_t* p, size_t n, uint8_t out[kDigestSize]) {
    unsigned int len = 0;
    EVP_Digest(p, n, out, &len, EVP_sha256(), nullptr);
}

std::string SystemError(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

// Owns a file descriptor for the duration of one save or load.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return m_fd; }
    bool Close() {
        int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

} // namespace

std::vector<uint8_t> SerializeImage(const TokenImage& image) {
    ImageWriter w;
    w.Out().assign(kMagic, kMagic + sizeof kMagic);
    w.U32(kFormatVersion);
    w.Text(image.label);
    w.Text(image.serial);
    w.Blob(image.devAuthKey);
    w.U8(image.devAuthMaxRetries);
    w.U8(image.devAuthTriesLeft);
    w.U32(image.totalSpace);
    w.U16(image.nextApplicationId);
    w.U32(static_cast<uint32_t>(image.applications.size()));
    for (const auto& [name, app] : image.applications) {
        w.Text(name);
        w.U16(app.id);
        WritePin(w, app.adminPin);
        WritePin(w, app.userPin);
        w.U32(app.createFileRights);
        w.U16(app.nextContainerId);
        WriteFiles(w, app.files);
        WriteFiles(w, app.filesEx);
        WriteContainers(w, app.containers);
    }
    uint8_t digest[kDigestSize];
    Digest(w.Out().data(), w.Out().size(), digest);
    w.Out().insert(w.Out().end(), digest, digest + kDigestSize);
    return std::move(w.Out());
}

bool ParseImage(const std::vector<uint8_t>& bytes, TokenImage* image, std::string* error) {
    auto refuse = [error](const char* why) {
        if (error)
            *error = why;
        return false;
    };
    if (bytes.size() < sizeof kMagic + 4 + kDigestSize)
        return refuse("token image is truncated");
    if (std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0)
        return refuse("not a token image");
    size_t bodySize = bytes.size() - kDigestSize;
    uint8_t digest[kDigestSize];
    Digest(bytes.data(), bodySize, digest);
    if (std::memcmp(digest, bytes.data() + bodySize, kDigestSize) != 0)
        return refuse("token image is corrupt or truncated (checksum mismatch)");

    ImageReader r(bytes.data() + sizeof kMagic, bodySize - sizeof kMagic);
    if (r.U32() != kFormatVersion)
        return refuse("token image has an unknown format version");
    TokenImage parsed;
    parsed.label = r.Text();
    parsed.serial = r.Text();
    parsed.devAuthKey = r.Blob();
    parsed.devAuthMaxRetries = r.U8();
    parsed.devAuthTriesLeft = r.U8();
    parsed.totalSpace = r.U32();
    parsed.nextApplicationId = r.U16();
    uint32_t count = r.Count();
    for (uint32_t i = 0; i < count && !r.Failed(); ++i) {
        std::string name = r.Text();
        ApplicationRecord app;
        app.id = r.U16();
        app.adminPin = ReadPin(r);
        app.userPin = ReadPin(r);
        app.createFileRights = r.U32();
        app.nextContainerId = r.U16();
        app.files = ReadFiles(r);
        app.filesEx = ReadFiles(r);
        app.containers = ReadContainers(r);
        if (name.empty() || !parsed.applications.emplace(name, std::move(app)).second)
            r.Fail();
    }
    if (r.Failed() || !r.AtEnd())
        return refuse("token image is malformed");
    if (parsed.devAuthKey.size() != 16 || parsed.devAuthTriesLeft > parsed.devAuthMaxRetries)
        return refuse("token image has an invalid device key record");
    *image = std::move(parsed);
    return true;
}

ImageLoad LoadImage(const std::string& dir, TokenImage* image, std::string* error) {
    std::string path = dir + "/" + kImageFileName;
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.Get() < 0) {
        if (errno == ENOENT)
            return ImageLoad::Missing;
        if (error)
            *error = SystemError("cannot open", path);
        return ImageLoad::Refused;
    }
    std::vector<uint8_t> bytes;
    uint8_t buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            if (error)
                *error = SystemError("cannot read", path);
            return ImageLoad::Refused;
        }
        if (n == 0)
            break;
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    OPENSSL_cleanse(buffer, sizeof buffer);
    std::string why;
    bool parsed = ParseImage(bytes, image, &why);
    OPENSSL_cleanse(bytes.data(), bytes.size());
    if (!parsed) {
        if (error)
            *error = path + ": " + why;
        return ImageLoad::Refused;
    }
    return ImageLoad::Loaded;
}

bool SaveImage(const std::string& dir, const TokenImage& image, std::string* error) {
    // The serialised image holds the PINs and keys: wipe it however the save ends.
    struct WipedImage {
        std::vector<uint8_t> bytes;
        ~WipedImage() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
    } serialised{SerializeImage(image)};
    const std::vector<uint8_t>& bytes = serialised.bytes;
    std::string path = dir + "/" + kImageFileName;
    std::string temporary = path + ".tmp";
    auto fail = [&](const std::string& what, const std::string& which) {
        if (error)
            *error = SystemError(what, which);
        ::unlink(temporary.c_str());
        return false;
    };
    {
        FileDescriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        if (fd.Get() < 0)
            return fail("cannot create", temporary);
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(fd.Get(), bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return fail("cannot write", temporary);
            done += static_cast<size_t>(n);
        }
        if (::fsync(fd.Get()) != 0)
            return fail("cannot sync", temporary);
        if (!fd.Close())
            return fail("cannot close", temporary);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0)
        return fail("cannot replace", path);
    FileDescriptor directory(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.Get() < 0 || ::fsync(directory.Get()) != 0) {
        if (error)
            *error = SystemError("cannot sync directory", dir);
        return false;
    }
    return true;
}

} // namespace vtoken
