#pragma once
// krm-cli decode [--json] [--format FORMAT] [--can-id N] [FILE|-]: prints the
// packets of a recorded byte stream (CaptureInput.h) without a connection,
// one line (or JSON object) each, with their meaning in words as the command
// log shows it, and every checksum mismatch, frame cut short and run of bytes
// between frames with its offset in its stream, each as soon as the input
// decides it (any input takes bounded memory), with its time in ISO 8601
// with microseconds and the milliseconds since the item before. Exit status
// 0 when the input held nothing but packets, 1 when it held faults or
// unreadable lines or a termination signal ended it, 2 on bad usage or an
// input that cannot be read.
#include "CaptureInput.h"

#include <QString>
#include <QStringList>

// True when the command line (after the program name) runs decode: its
// first word that is not --json is "decode".
bool IsDecodeCommand(const QStringList& args);

// Runs decode with the command line after the program name; the exit status.
int RunDecode(const QStringList& args);
