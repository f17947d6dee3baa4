#pragma once
// krm-cli [--json] scan [--only] [--baud LIST] [--kbits KBITS]
// [--can-ids FIRST-LAST] [CONNECTION...]: finds grippers through the
// library's scan and prints one result line (or JSON object) for each, with
// the connection string that opens it and its system information; ports that
// could not be tried go to standard error. Needs no connection. Exit status
// 0 when a gripper answered, 1 when none did, 2 on bad usage.
#include <QString>
#include <QStringList>

// True when the command line (after the program name) runs scan.
bool IsScanCommand(const QStringList& args);

// Runs scan with the command line after the program name; the exit status.
int RunScan(const QStringList& args);

// The paragraph of --help about scan, with the times a scan takes.
QString ScanUsage();
