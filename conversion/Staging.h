#pragma once

struct RunContext;

// Creates CodiciCorvel when missing and inserts the plan's lines to stage, several hundred to
// a transaction, each transaction's restore statements on the disk before its commit. A row
// the engine still refuses is logged with its line and the file and costs itself alone; its
// products are told why. Any other failure goes to the run's trap. The counts then say what
// was staged.
void applyStaging(RunContext& run);
