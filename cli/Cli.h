#pragma once

// diskwright-cli as a library function, so tests run it in-process.

#include <iosfwd>
#include <string>
#include <vector>

namespace dwcli {

enum ExitCode { ExitSuccess = 0, ExitFailure = 1, ExitUsage = 2 };

struct CliIo {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    bool interactive = false; // questions are asked only on a terminal

    // Asks a Yes/No question on err and reads the answer from in; only "y" or "yes" is Yes.
    bool askYesNo(const std::string& question);
    // Asks for a line of text; false on end of input.
    bool askText(const std::string& question, std::string& answer);
    // A message of the program's own on err (line breaks of the texts made terminal-friendly).
    void message(const std::string& text);
};

// arguments without the program name
int runCli(const std::vector<std::string>& arguments, CliIo& io);
int runCli(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

// "\r\n" inside the program's texts becomes a plain line break.
std::string terminalText(const std::string& text);

} // namespace dwcli
