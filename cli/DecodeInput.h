#pragma once
// The input of `krm-cli decode` as a sequential device over a file
// descriptor (a file or standard input), read in pieces as the readers ask
// for them. A termination signal (CliSignals.h) ends it: a read that waits
// for a pipe or a terminal returns at once, and every read after the signal
// fails, so the readers stop where they are.
#include <QIODevice>

class TDecodeInput : public QIODevice {
public:
    // Takes `fd` and closes it when destroyed (standard input is kept open).
    explicit TDecodeInput(int fd);
    ~TDecodeInput() override;

    bool isSequential() const override { return true; }
    // At the end once the input has ended (or a signal came) and everything
    // read has been taken; a pipe that has sent nothing yet is not at its end.
    bool atEnd() const override;
    // A termination signal ended the input.
    bool Interrupted() const;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    int FFd;
    bool FEnded = false;
};
