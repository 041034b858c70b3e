#include "cli/Commands.h"

namespace dwcli {

void addDeleteCommands(CLI::App& /*app*/, CliContext& /*context*/) {}

} // namespace dwcli
