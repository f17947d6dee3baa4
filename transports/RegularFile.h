#pragma once
// Settings files are read and replaced only when they are regular files,
// named directly or through symbolic links. Whatever else may stand at the
// path (a folder, a device node, a FIFO, a socket, a link to one of these, a
// link to nothing or a link that loops) is never opened for writing, and
// nothing here waits on it: a FIFO opened for reading would wait for a
// writer for ever.
#include <QFile>
#include <QString>

// What stands at a path, links followed.
struct TPathCheck {
    bool Missing = false; // nothing at all, not even a link
    bool Link = false;    // the path is a symbolic link (to a regular file when usable)
    QString Problem;      // why it cannot be used ("it is a FIFO, not a regular file"); empty when it can
};

TPathCheck CheckRegularFile(const QString& path);

enum class TOpenResult { Missing, Open, Unusable };

// Opens `path` for reading into `file` when it is a regular file. The opening
// never waits, and what was opened is checked again, as the path may have
// changed since it was looked at. `error` says why the file was unusable.
TOpenResult OpenRegularFile(const QString& path, QFile& file, QIODevice::OpenMode mode, QString& error);

// Whether the regular file `path` (not a link) may be replaced: asked of the
// file itself, as a folder lets a write-protected file be renamed over. The
// opening neither waits nor follows a link put in the file's place since.
bool MayReplaceRegularFile(const QString& path, QString& error);
