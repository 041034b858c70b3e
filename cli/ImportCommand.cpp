#include "cli/Commands.h"

namespace dwcli {

void addImportCommand(CLI::App& /*app*/, CliContext& /*context*/) {}

} // namespace dwcli
