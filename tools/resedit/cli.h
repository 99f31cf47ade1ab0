// The resedit command line: list, extract, add or replace, delete resources and replace
// icon groups in an executable, through the resource editor.
#pragma once

#include <string>
#include <vector>

namespace resedit::cli {

// Runs one command (args without the program name); its normal output goes to out, messages
// to err. Returns the exit code: 0 done, 1 failed, 2 bad command line.
int Run(const std::vector<std::u16string>& args, std::string& out, std::string& err);

} // namespace resedit::cli
