#pragma once

struct RunContext;
namespace db {
struct ConnectionTarget;
}

// Reads what the run needs from the catalogue, changing nothing (CodiciCorvel is only read,
// and only when it exists), and decides the plan: each table line's fate, each product of
// distributor 069's outcome, and the numbers of the last box. Works with a login that may
// only read. The table's lines must have been read already.
//
// Looks up distributors 069 and 211 on their own connections to target. A list that cannot
// be read goes to the run's trap and leaves what depends on it undecided: no line is staged
// without the staging rows, no product is converted without the products.
void planRun(RunContext& run, const db::ConnectionTarget& target);
