// Where the tests find the system data that the data build made: the
// directory in VETRA_DATA_DIR, else the one the build configured. Tests of
// built data skip themselves when the file they need is not there.
#pragma once

#include <string>
#include <vector>

// The directory holding "VetraInput"; empty when none is known.
std::string BuiltDataDir();
// Reads "<data dir>/VetraInput/<name>" whole; false when it is not there.
bool ReadBuiltDataFile(const std::string& name, std::vector<unsigned char>& out);
