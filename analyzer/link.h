// Sonalyx's side of the shared sound record and of the registry keys through
// which the saver finds it.
#pragma once
#include <windows.h>
#include "analyzer/analysis.h"
#include "runtime/soundlink.h"

enum { ANALYZER_MAJOR = 3, ANALYZER_MINOR = 2, ANALYZER_BUILD = 12 };

// Creates or joins the record with the saver's rules: a record of another
// size or version belongs to someone else and is refused (null).
SoundShare* OpenAnalyzerLink(HANDLE* mapping);
void CloseAnalyzerLink(SoundShare* share, HANDLE mapping);

// Writes one set of levels with the divisors for `gainDb` decibels of gain.
void PublishLevels(SoundShare* share, const Levels* levels, float gainDb);
// Writes the three lines of the saver's information box; infoSerial changes
// only when a line does, so the saver shows the box again only then.
void PublishInfo(SoundShare* share, const char* line1, const char* line2, const char* line3);

// "Software\Sonalyx": the version and build under the current user, and the
// start command (the quoted program path) as the default value under the
// local machine. 1 when both were written; otherwise 0 with a message.
int RegisterAnalyzer(const char* programPath, char* message, int messageSize);
