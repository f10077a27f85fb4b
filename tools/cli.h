// Verbs of tamberlin-cli. Each takes the arguments after the verb and returns
// the process exit code (0 fine, 2 bad usage; verbs add their own).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tamberlin::cli {

using Args = std::vector<std::string>;

// The data folder: <folder of the executable>/../share/tamberlin, which holds
// both in the build tree and in an installed tree.
std::filesystem::path Default_Data_Dir();

int Catalogue_Verb(const Args& args);
int Scan_Verb(const Args& args);
int Media_Verb(const Args& args);

}  // namespace tamberlin::cli
