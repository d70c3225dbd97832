#pragma once

struct RunContext;

// Moves to distributor 211 every product an applied staging row names. The distributors they
// have now go to the restore file first; without them nothing is moved and the run ends. One
// statement moves them all; when the engine refuses one product, they are moved one by one
// so that it costs itself alone, and the plan keeps why. The counts then say how many were
// moved. The plan's distributor211 must be known.
void applyMove(RunContext& run);
