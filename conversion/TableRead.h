#pragma once

#include <QString>

struct RunContext;

// Reads the whole code table into the plan's lines before anything is decided or changed:
// every data line counts in LabelFatti; a refused line is logged with its number and the
// file's name, and its products are told why. A failure to read goes to the run's trap.
//
// Returns false when the table has no line to stage (empty, saved in another shape, every
// line refused): the operator has been told why, naming the file and its first refused line,
// and the window is usable again.
bool readCodeTable(RunContext& run, const QString& path);
