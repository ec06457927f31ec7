// Where the certificate for the viewer is written: only into a directory of the user's own that nobody
// else may enter, created anew without following links, never through a name another user could plant.
#include "manager/private_view_file.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string MakeDir(const std::string& parent, const char* name, mode_t mode) {
    const std::string path = parent + "/" + name;
    EXPECT_EQ(mkdir(path.c_str(), 0700), 0) << path;
    EXPECT_EQ(chmod(path.c_str(), mode), 0);
    return path;
}

std::string ReadFile(const std::string& path) {
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return "<unreadable>";
    return file.readAll().toStdString();
}

mode_t ModeOf(const std::string& path) {
    struct stat st = {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st.st_mode;
}

class ViewFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/view-file-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_root = pattern;
        // The temporary directory of the fallback lies inside the test's own directory.
        m_tmp = MakeDir(m_root, "tmp", 01777);
        setenv("TMPDIR", m_tmp.c_str(), 1);
        unsetenv("XDG_RUNTIME_DIR");
    }

    void TearDown() override {
        unsetenv("XDG_RUNTIME_DIR");
        unsetenv("TMPDIR");
        std::system(("rm -rf '" + m_root + "'").c_str());
    }

    // A file elsewhere that a planted link points at; it must never change.
    std::string Victim() {
        const std::string victim = m_root + "/victim";
        QFile file(QString::fromStdString(victim));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("untouched");
        return victim;
    }

    std::string m_root;
    std::string m_tmp;
};

const QByteArray kDer("\x30\x82\x00\x03\x01\x00\xff", 7);

TEST_F(ViewFileTest, PrivateRuntimeDirectoryHoldsTheFileWithOwnerOnlyModes) {
    const std::string runtime = MakeDir(m_root, "runtime", 0700);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);

    const std::string path = writePrivateViewFile(kDer).toStdString();
    EXPECT_EQ(path, runtime + "/keydesk/tolvik.cer");
    EXPECT_EQ(ReadFile(path), kDer.toStdString());
    EXPECT_EQ(ModeOf(path) & 0777, 0600u);
    EXPECT_TRUE(S_ISREG(ModeOf(path)));
    EXPECT_EQ(ModeOf(runtime + "/keydesk") & 0777, 0700u);

    // A second view replaces the file's content entirely.
    const QByteArray shorter("\x30\x00", 2);
    EXPECT_EQ(writePrivateViewFile(shorter).toStdString(), path);
    EXPECT_EQ(ReadFile(path), shorter.toStdString());
}

TEST_F(ViewFileTest, LinkInPlaceOfTheFileIsReplacedNotFollowed) {
    const std::string runtime = MakeDir(m_root, "runtime", 0700);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    const std::string victim = Victim();
    MakeDir(runtime, "keydesk", 0700);
    ASSERT_EQ(symlink(victim.c_str(), (runtime + "/keydesk/tolvik.cer").c_str()), 0);

    const std::string path = writePrivateViewFile(kDer).toStdString();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(ReadFile(victim), "untouched");
    EXPECT_TRUE(S_ISREG(ModeOf(path)));
    EXPECT_EQ(ReadFile(path), kDer.toStdString());
}

// Runtime directories that are not private to the user are never used; the file then goes into a
// fresh directory of mode 0700 under the temporary directory, never straight into it.
TEST_F(ViewFileTest, SharedOrMissingRuntimeDirectoryFallsBackToAFreshPrivateDirectory) {
    struct Case {
        const char* name;
        std::string runtime; // empty: XDG_RUNTIME_DIR unset
    };
    const std::string shared = MakeDir(m_root, "shared", 0777);
    const std::string linkedParent = MakeDir(m_root, "linked", 0700);
    const std::string elsewhere = MakeDir(m_root, "elsewhere", 0700);
    ASSERT_EQ(symlink(elsewhere.c_str(), (linkedParent + "/keydesk").c_str()), 0);
    const std::string linkToDir = m_root + "/link-to-runtime";
    ASSERT_EQ(symlink(elsewhere.c_str(), linkToDir.c_str()), 0);
    const std::string victim = Victim();
    ASSERT_EQ(symlink(victim.c_str(), (m_tmp + "/tolvik.cer").c_str()), 0);

    const Case cases[] = {
        {"unset", ""},
        {"world-writable runtime", shared},
        {"runtime is a link", linkToDir},
        {"keydesk entry is a link", linkedParent},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.runtime.empty())
            unsetenv("XDG_RUNTIME_DIR");
        else
            setenv("XDG_RUNTIME_DIR", c.runtime.c_str(), 1);

        const std::string path = writePrivateViewFile(kDer).toStdString();
        ASSERT_FALSE(path.empty());
        const std::string dir = path.substr(0, path.rfind('/'));
        EXPECT_EQ(dir.rfind(m_tmp + "/keydesk-", 0), 0u) << path;
        EXPECT_EQ(ModeOf(dir) & 0777, 0700u);
        EXPECT_EQ(ModeOf(path) & 0777, 0600u);
        EXPECT_EQ(ReadFile(path), kDer.toStdString());
        EXPECT_EQ(ReadFile(victim), "untouched");
        EXPECT_EQ(ReadFile(elsewhere + "/tolvik.cer"), "<unreadable>");
    }
}

// A TMPDIR that does not exist must not send the directory to the file system's root.
TEST_F(ViewFileTest, MissingTemporaryDirectoryFallsBackToTmp) {
    setenv("TMPDIR", (m_root + "/missing").c_str(), 1);
    const std::string path = writePrivateViewFile(kDer).toStdString();
    EXPECT_EQ(path.rfind("/tmp/keydesk-", 0), 0u) << path;
    EXPECT_EQ(ModeOf(path.substr(0, path.rfind('/'))) & 0777, 0700u);
    EXPECT_EQ(ReadFile(path), kDer.toStdString());
    std::system(("rm -rf '" + path.substr(0, path.rfind('/')) + "'").c_str());
}

} // namespace
