#include "cli/Cli.h"
#include "cli/Commands.h"

#include "DiskwrightVersion.h"

#include <algorithm>
#include <iostream>
#include <memory>
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

// Each command's options are built only when that command runs (or help describes it): building
// all of them took about a third of a small command's start-up.
struct CommandGroup {
    std::vector<const char*> names;
    void (*add)(CLI::App&, CliContext&);
};

const std::vector<CommandGroup>& commandGroups() {
    static const std::vector<CommandGroup> groups{
        {{"info", "list"}, addInfoCommands},
        {{"find"}, addFindCommand},
        {{"export", "cat"}, addExportCommands},
        {{"delete", "check"}, addDeleteCommands},
        {{"import"}, addImportCommand},
        {{"create"}, addCreateCommand},
        {{"repair"}, addRepairCommand},
        {{"link"}, addLinkCommand},
        {{"copy"}, addCopyCommand},
        {{"rename", "label", "undelete"}, addVolumeCommands},
    };
    return groups;
}

const CommandGroup* findCommand(const std::string& name) {
    for (const CommandGroup& group : commandGroups())
        for (const char* command : group.names)
            if (name == command)
                return &group;
    return nullptr;
}

std::string commandList() {
    std::string names;
    for (const CommandGroup& group : commandGroups())
        for (const char* command : group.names)
            names += (names.empty() ? "" : ", ") + std::string(command);
    return names;
}

// Help without the parser's own notes (TEXT, REQUIRED, {false}, Excludes: ...): the option's
// description says what it needs.
class HelpFormatter : public CLI::Formatter {
public:
    std::string make_option_name(const CLI::Option* option, bool positional) const override {
        std::string name = CLI::Formatter::make_option_name(option, positional);
        for (std::size_t open; (open = name.find('{')) != std::string::npos;) {
            const std::size_t close = name.find('}', open);
            name.erase(open, close == std::string::npos ? std::string::npos : close - open + 1);
        }
        return name;
    }
    std::string make_option_opts(const CLI::Option* option) const override {
        if (option->get_type_size() == 0)
            return {};
        std::string type = option->get_type_name();
        if (const std::size_t choices = type.find(":{"); choices != std::string::npos)
            type = type.substr(choices + 1);
        const bool many = option->get_expected_max() == CLI::detail::expected_max_vector_size;
        if (!option->nonpositional())
            return many ? " ..." : "";
        return " " + type + (many ? " ..." : "");
    }
};

// The first argument that is not one of the program's own options names the command.
const std::string* commandArgument(const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments) {
        if (argument == "-" || argument.empty() || argument[0] != '-')
            return &argument;
    }
    return nullptr;
}

bool isHelp(const std::string& argument) {
    return argument == "-h" || argument == "--help" || argument == "--help-all";
}

// Help for the whole program describes every command; so does --help-all anywhere.
bool describesAllCommands(const std::vector<std::string>& arguments, const std::string* command) {
    for (const std::string& argument : arguments) {
        if (&argument == command)
            break;
        if (isHelp(argument))
            return true;
    }
    return std::find(arguments.begin(), arguments.end(), "--help-all") != arguments.end();
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
    app.formatter(std::make_shared<HelpFormatter>());

    const std::string* command = commandArgument(arguments);
    const CommandGroup* group = command ? findCommand(*command) : nullptr;
    const bool all = describesAllCommands(arguments, command);
    const bool version =
        std::find(arguments.begin(), arguments.end(), "--version") != arguments.end();
    if (!group && !all && !version) {
        io.err << ProgramName << ": "
               << (command ? "unknown command '" + *command + "'" : "no command given")
               << "\nThe commands are: " << commandList()
               << ".\nRun 'diskwright-cli --help' for more information.\n";
        return ExitUsage;
    }
    if (all) {
        for (const CommandGroup& each : commandGroups())
            each.add(app, context);
    } else if (group) {
        group->add(app, context);
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
