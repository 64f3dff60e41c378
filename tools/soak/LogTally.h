#pragma once

#include <QString>

// What kind of line the device layer wrote: the soak counts them to account for every answer.
enum class LineKind {
    Command,
    Transmission,
    Reception,
    // An answer of the right size and hash, whatever its status said.
    WellFormedOutcome,
    BadHash,
    WrongSize,
    NotSent,
    Other,
};

LineKind classifyLine(const QString &message);

// Counts of each kind in a log file, read after the run so that only what reached the disk
// counts.
struct LogTally
{
    int lines = 0;
    int commands = 0;
    int transmissions = 0;
    int receptions = 0;
    int wellFormed = 0;
    int badHash = 0;
    int wrongSize = 0;
    int notSent = 0;
    int unreadable = 0;

    void add(LineKind kind);
    // False when the file cannot be read.
    bool readFile(const QString &path);
};
