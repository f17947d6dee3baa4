#pragma once
// One command of krm-cli, checked for its syntax, and the steps a run is made
// of: commands and repeated blocks, from the command line or a script.
#include "types.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

enum class TCliVerb {
    Info,
    Limits,
    Stats,
    State,
    Home,
    Goto,
    Grasp,
    Release,
    Stop,
    FastStop,
    Ack,
    Accel,
    ForceLimit,
    Watch,
    Raw,
    Wait,
};

struct TCliCommand {
    TCliVerb Verb = TCliVerb::Info;
    QString Name;           // as typed: "goto", "force-limit"
    QStringList Args;       // the arguments as typed
    std::vector<double> Values; // the numeric arguments, in order
    bool Reset = false;     // stats --reset
    uint8_t RawCommand = 0; // raw: the command byte
    TByteArray RawPayload;  // raw: the payload bytes
    QString Where;          // where it was written: "line 3 of cycle.txt"

    // The command as typed, for messages: "goto 50 100".
    QString Text() const { return (QStringList{Name} + Args).join(u' '); }
    bool HasValue() const { return !Values.empty(); }
};

// A command, or a block of steps run Count times.
struct TCliStep {
    bool IsRepeat = false;
    TCliCommand Command;
    int Count = 0;
    std::vector<TCliStep> Body;
};

using TCliProgram = std::vector<TCliStep>;
