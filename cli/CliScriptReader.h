#pragma once
// Reads the lines of a script from a file descriptor a piece at a time, so
// that nothing a script holds is kept in memory but the line being read.
//
// Next() never blocks: it hands out a buffered line, or reads what can be
// read without waiting (poll() says so first), or says that it needs more.
// A reader that may wait blocks in WaitReadable() (a script file read before
// the run) or waits in its event loop for the descriptor (standard input read
// while the run goes on). Lines end at "\n"; the last one may lack it.
#include <QByteArray>
#include <QString>

class TCliScriptReader {
public:
    enum class TRead {
        Line,     // `line` holds the next line, without its "\n"
        NeedMore, // nothing can be read without waiting
        End,      // the end of the input
        TooLong,  // the line being read is longer than MaxLineBytes
        Failed,   // reading failed: ErrorText()
    };

    // Longest line, in bytes: a raw command with the largest payload in hex.
    static constexpr int MaxLineBytes = 256 * 1024;

    // Reads `fd`; closes it at the end when `owned`.
    TCliScriptReader(int fd, bool owned);
    ~TCliScriptReader();
    TCliScriptReader(const TCliScriptReader&) = delete;
    TCliScriptReader& operator=(const TCliScriptReader&) = delete;

    // Opens `path` for reading without waiting for a writer (a FIFO); -1
    // with errno set when it cannot be opened.
    static int OpenFile(const QString& path);

    TRead Next(QByteArray& line);
    // Waits until the descriptor can be read or a termination signal came
    // (CliSignals.h); false for a signal.
    bool WaitReadable();

    int Fd() const { return FFd; }
    // The number of the line Next() returned last, or of the one too long.
    int LineNumber() const { return FLine; }
    QString ErrorText() const;

private:
    int FFd;
    bool FOwned;
    QByteArray FBuffer;
    qsizetype FScanned = 0; // bytes of FBuffer known to hold no "\n"
    bool FEnd = false;
    int FLine = 0;
    int FError = 0;
};
