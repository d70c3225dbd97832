#pragma once

struct RunContext;

// Gives each product the plan converts the new code of the staging row the plan gave it, and
// marks the row with the product, both in one transaction of several hundred products, the
// restore statements on the disk before its commit. A product whose row is not there (the
// engine refused its line, or another program took the row) keeps its code and is told why. A
// product the engine refuses costs itself alone; any other failure goes to the run's trap. The
// counters and the progress bar follow the products; the counts then say what was converted.
void applyRewrite(RunContext& run);
