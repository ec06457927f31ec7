#pragma once
// The copy of a certificate handed to the outside viewer. It lives in a directory only this user can
// enter: the session's runtime directory when it is private, else a fresh directory made with mkdtemp.
// The file itself is created anew (never through an existing name or link) with mode 0600.

#include <QByteArray>
#include <QString>

// The private directory for viewer files (created on first use); empty when none can be had.
QString privateViewDirectory();

// Writes der as "tolvik.cer" in the private directory; its path, or empty on any failure.
QString writePrivateViewFile(const QByteArray& der);
