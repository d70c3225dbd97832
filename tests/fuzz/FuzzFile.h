#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>

// The readers under test take a path: each input is written to one file in a private
// temporary folder, replaced on every call. Returns its path.
QString fuzzFile(const uint8_t* data, size_t size);
