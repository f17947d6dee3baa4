#pragma once
// The simulator's command line: transports, gripper identity and limits,
// workpiece, fault injection and tracing. Every value is checked.
#include "FaultOptions.h"
#include "GripperConfig.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

#include <optional>

struct TSimSettings {
    struct TTcp {
        QHostAddress address;
        quint16 port;
    };
    struct TCan {
        QString plugin;
        QString interface;
        quint32 id;
    };
    TGripperConfig gripper;
    TFaultOptions faults;
    std::optional<TTcp> tcp;
    std::optional<QString> ptyPath;
    int ptyBaud = 0; // line speed the pseudo-terminal's client must set; 0: any
    std::optional<TCan> can;
    bool verbose = false;
};

struct TCommandLineResult {
    enum TKind { Run, Help, Version, Error };
    TKind kind = Error;
    TSimSettings settings;
    QString text; // help or version text, or error message
};

// `arguments` includes the program name first.
TCommandLineResult ParseCommandLine(const QStringList& arguments);
