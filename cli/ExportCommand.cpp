#include "cli/Commands.h"

namespace dwcli {

void addExportCommands(CLI::App& /*app*/, CliContext& /*context*/) {}

} // namespace dwcli
