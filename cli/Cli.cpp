#include "cli/Cli.h"
#include "cli/Commands.h"

#include "DiskwrightVersion.h"

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

namespace {

std::string commandList(const CLI::App& app) {
    std::string names;
    for (const CLI::App* command : app.get_subcommands({}))
        names += (names.empty() ? "" : ", ") + command->get_name();
    return names;
}

bool isCommand(const CLI::App& app, const std::string& name) {
    for (const CLI::App* command : app.get_subcommands({}))
        if (command->get_name() == name)
            return true;
    return false;
}

// The first argument that is not one of the program's own options names the command.
const std::string* commandArgument(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        if (argument == "-" || argument.empty() || argument[0] != '-')
            return &argument;
    }
    return nullptr;
}

bool asksForHelpOrVersion(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments)
        if (argument == "-h" || argument == "--help" || argument == "--help-all" ||
            argument == "--version")
            return true;
    return false;
}

} // namespace

int runCli(const std::vector<std::string>& arguments, CliIo& io) {
    CLI::App app{"Diskwright: lists, exports, imports, deletes and creates FLEX disk images "
                 "(.dsk) of 6800 and 6809 computers. Data goes to standard output, messages to "
                 "standard error.",
                 ProgramName};
    app.require_subcommand(1);
    app.fallthrough(); // -q and -v may also follow the command
    app.set_version_flag("--version", "diskwright-cli " DISKWRIGHT_VERSION);
    app.set_help_all_flag("--help-all", "Describe every command and its options");
    app.footer("Exit status: 0 success, 1 failure, 2 usage error. `diskwright-cli COMMAND "
               "--help` describes a command.");
    CliContext context{io};
    app.add_flag("-q,--quiet", context.quiet, "No per-file reports on stderr; errors only");
    app.add_flag("-v,--verbose", context.verbose,
                 "Also a line per file with the sector runs it takes, and each step of a "
                 "deletion");
    addInfoCommands(app, context);
    addExportCommands(app, context);
    addDeleteCommands(app, context);
    addImportCommand(app, context);
    addCreateCommand(app, context);
    addRepairCommand(app, context);
    addLinkCommand(app, context);
    addCopyCommand(app, context);
    addVolumeCommands(app, context);

    if (!asksForHelpOrVersion(arguments)) {
        const std::string* command = commandArgument(arguments);
        if (!command || !isCommand(app, *command)) {
            io.err << ProgramName << ": "
                   << (command ? "unknown command '" + *command + "'" : "no command given")
                   << "\nThe commands are: " << commandList(app)
                   << ".\nRun 'diskwright-cli --help' for more information.\n";
            return ExitUsage;
        }
    }

    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::Success& e) {
        const int code = app.exit(e, io.out, io.err) == 0 ? ExitSuccess : ExitUsage;
        return context.checkOutput() ? code : ExitFailure;
    } catch (const CLI::ParseError& e) {
        io.err << ProgramName << ": " << e.what() << "\nRun 'diskwright-cli "
               << (commandArgument(arguments) ? *commandArgument(arguments) + " " : "")
               << "--help' for more information.\n";
        return ExitUsage;
    }
    // Data that never reached its reader is a failure, whichever command wrote it.
    context.checkOutput();
    return context.exitCode;
}

int runCli(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    std::istringstream none;
    CliIo io{none, out, err, false};
    return runCli(arguments, io);
}

} // namespace dwcli
