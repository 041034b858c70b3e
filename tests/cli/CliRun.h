#pragma once

// Runs diskwright-cli in-process with typed input and captures what it prints.

#include "cli/Cli.h"

#include <sstream>
#include <string>
#include <vector>

namespace dwtest {

struct CliRun {
    int code;
    std::string out;
    std::string err;
};

inline CliRun cli(const std::vector<std::string>& args, const std::string& typed = {},
                  bool interactive = false) {
    std::istringstream in(typed);
    std::ostringstream out, err;
    dwcli::CliIo io{in, out, err, interactive};
    int code = dwcli::runCli(args, io);
    return {code, out.str(), err.str()};
}

} // namespace dwtest
