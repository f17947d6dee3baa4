#pragma once
// The command line of krm-cli:
//   krm-cli [CONNECTION] [OPTIONS] COMMAND [ARGS...] [, COMMAND [ARGS...]]...
// Options come before the first command; every word from the first command on
// belongs to the commands.
#include "CliCommand.h"

#include <QString>
#include <QStringList>

#include <cstdint>

enum class TCliTransport { None, Tcp, Serial, Can };

struct TCliConnection {
    TCliTransport Transport = TCliTransport::None;
    QString Host;               // --tcp
    uint16_t Port = 0;
    QString SerialPort;         // --serial
    int Baudrate = 115200;
    QString CanPlugin;          // --can
    QString CanInterface;
    int CanKbits = 250;
    int32_t CanId = 100;        // --can-id

    // How the connection is shown in messages: "TCP 127.0.0.1:1000".
    QString Text() const;
};

struct TCliOptions {
    TCliConnection Connection;
    bool Json = false;
    double TimeoutSeconds = 60; // longest wait for a motion's final result
    QString LogFile;
    bool KeepGoing = false;
    bool Help = false;
    bool Version = false;
    TCliProgram Program;
};

// Parses the arguments after the program name; scripts given to `run` are
// read and checked here too. Throws TUsageError naming the bad argument.
TCliOptions ParseCliOptions(const QStringList& args);

// The first word of the command line (after the program name) that is not
// an option before the commands, nor such an option's value; empty if none.
// The commands that need no connection (decode, scan) are told by it.
QString FirstCommandWord(const QStringList& args);

// The text of --help.
QString CliUsage();
