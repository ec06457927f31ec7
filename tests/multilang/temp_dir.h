// A private directory for the files a test writes, removed with everything in it at the end.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace multilang_test {

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/multilang-test-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        m_path = made != nullptr ? made : "";
    }
    ~TempDir() { RemoveTree(m_path); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }

    // Writes the bytes to <dir>/<name> and returns the full path.
    std::string Write(const std::string& name, const std::string& bytes) const {
        const std::string path = m_path + "/" + name;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
        return path;
    }

private:
    static void RemoveTree(const std::string& path) {
        if (path.empty())
            return;
        if (DIR* dir = ::opendir(path.c_str())) {
            while (dirent* entry = ::readdir(dir)) {
                const std::string name = entry->d_name;
                if (name == "." || name == "..")
                    continue;
                const std::string child = path + "/" + name;
                struct stat st {};
                if (::lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                    RemoveTree(child);
                else
                    ::unlink(child.c_str());
            }
            ::closedir(dir);
        }
        ::rmdir(path.c_str());
    }

    std::string m_path;
};

} // namespace multilang_test
