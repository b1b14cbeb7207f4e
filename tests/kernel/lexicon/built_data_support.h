// Where the tests find the system data that the data build made: the
// directory in VETRA_SYSTEM_DATA_DIR, else the one the build configured
// (VETRA_BUILT_DATA_DIR). Tests of built data skip themselves when the file
// they need is not there.
#pragma once

#include <string>
#include <vector>

// Reads "<system data dir>/<name>" whole; false when it is not there.
bool ReadBuiltSystemFile(const std::string& name, std::vector<unsigned char>& out);
