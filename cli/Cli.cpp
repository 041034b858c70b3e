#include "cli/Cli.h"
#include "cli/Commands.h"

#include <iostream>
#include <sstream>

namespace dwcli {

std::string terminalText(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        result += text[i];
    }
    return result;
}

void CliIo::message(const std::string& text) {
    err << terminalText(text) << '\n';
}

bool CliIo::askYesNo(const std::string& question) {
    err << terminalText(question) << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(in, answer))
        return false;
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "Yes" || answer == "YES";
}

bool CliIo::askText(const std::string& question, std::string& answer) {
    err << terminalText(question) << ' ' << std::flush;
    return static_cast<bool>(std::getline(in, answer));
}

int runCli(const std::vector<std::string>& arguments, CliIo& io) {
    CLI::App app{"Diskwright: lists, exports, imports, deletes and creates FLEX disk images",
                 "diskwright-cli"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "diskwright-cli 2.0.0");
    CliContext context{io};
    addInfoCommands(app, context);
    addExportCommands(app, context);
    addDeleteCommands(app, context);
    addImportCommand(app, context);
    addCreateCommand(app, context);

    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e, io.out, io.err);
        return code == 0 ? ExitSuccess : ExitUsage;
    }
    return context.exitCode;
}

int runCli(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    std::istringstream none;
    CliIo io{none, out, err, false};
    return runCli(arguments, io);
}

} // namespace dwcli
