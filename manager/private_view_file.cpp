#include "private_view_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char kViewFileName[] = "tolvik.cer";
const char kRuntimeSubdir[] = "keydesk";

// A real directory (not a link) of this user that nobody else may enter.
bool IsPrivateDirectory(const QByteArray& path) {
    struct stat st = {};
    if (lstat(path.constData(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

QByteArray RuntimeViewDirectory() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.isEmpty() || !IsPrivateDirectory(runtime))
        return QByteArray();
    const QByteArray dir = runtime + '/' + kRuntimeSubdir;
    if (mkdir(dir.constData(), 0700) != 0 && errno != EEXIST)
        return QByteArray();
    return IsPrivateDirectory(dir) ? dir : QByteArray();
}

// Made once per process under the temporary directory; mkdtemp gives it mode 0700 and a name
// nobody could have prepared.
QByteArray TemporaryViewDirectory() {
    static QByteArray made;
    if (!made.isEmpty() && IsPrivateDirectory(made))
        return made;
    // Qt answers an empty path for a TMPDIR that does not exist; mkdtemp would then work in "/".
    QString base = QDir::tempPath();
    if (base.isEmpty() || !QFileInfo(base).isDir())
        base = QStringLiteral("/tmp");
    QByteArray pattern = QFile::encodeName(base) + "/keydesk-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr)
        return QByteArray();
    made = pattern;
    return made;
}

bool WriteAll(int fd, const QByteArray& bytes) {
    const char* cursor = bytes.constData();
    size_t left = static_cast<size_t>(bytes.size());
    while (left > 0) {
        const ssize_t written = write(fd, cursor, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        cursor += written;
        left -= static_cast<size_t>(written);
    }
    return true;
}

} // namespace

QString privateViewDirectory() {
    QByteArray dir = RuntimeViewDirectory();
    if (dir.isEmpty())
        dir = TemporaryViewDirectory();
    return QFile::decodeName(dir);
}

QString writePrivateViewFile(const QByteArray& der) {
    const QByteArray dir = QFile::encodeName(privateViewDirectory());
    if (dir.isEmpty())
        return QString();
    const QByteArray path = dir + '/' + kViewFileName;
    // The last view's copy may still be open in its viewer; unlinking leaves that copy alone.
    if (unlink(path.constData()) != 0 && errno != ENOENT)
        return QString();
    const int fd = open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return QString();
    const bool written = WriteAll(fd, der);
    if (close(fd) != 0 || !written) {
        unlink(path.constData());
        return QString();
    }
    return QFile::decodeName(path);
}
