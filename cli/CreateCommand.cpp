#include "cli/Commands.h"

namespace dwcli {

void addCreateCommand(CLI::App& /*app*/, CliContext& /*context*/) {}

} // namespace dwcli
