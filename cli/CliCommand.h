#pragma once
// One command of krm-cli, checked for its syntax, and the steps a run is made
// of: commands, the bounds of repeated blocks, and the place where standard
// input is read, from the command line or a script.
#include "types.h"

#include <QString>
#include <QStringList>

#include <cstddef>
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

// The steps of a run, flat: a repeated block is a Repeat step, its body and
// the End step that closes it, so that neither building nor running a
// program recurses however deeply blocks nest.
enum class TCliStepKind {
    Command, // run Command
    Repeat,  // run the steps up to Partner (its End) Count times
    End,     // the end of the block opened at Partner
    Stdin,   // run the lines of standard input as they arrive (`run -`)
};

struct TCliStep {
    TCliStepKind Kind = TCliStepKind::Command;
    TCliCommand Command; // Command; for the others only Where is set
    int Count = 0;       // Repeat
    size_t Partner = 0;  // Repeat: index of its End; End: index of its Repeat
};

using TCliProgram = std::vector<TCliStep>;
