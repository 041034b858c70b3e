#pragma once

// Each command lives in its own file and adds itself to the application here.

#include "cli/Cli.h"

#include <CLI/CLI.hpp>

namespace dwcli {

struct CliContext {
    CliIo& io;
    int exitCode = ExitSuccess;
};

void addInfoCommands(CLI::App& app, CliContext& context);   // info, list
void addExportCommands(CLI::App& app, CliContext& context); // export, cat
void addDeleteCommands(CLI::App& app, CliContext& context); // delete, check
void addImportCommand(CLI::App& app, CliContext& context);  // import
void addCreateCommand(CLI::App& app, CliContext& context);  // create

} // namespace dwcli
