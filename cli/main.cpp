#include "cli/Cli.h"

#include <iostream>
#include <unistd.h>

int main(int argc, char** argv) {
    dwcli::CliIo io{std::cin, std::cout, std::cerr, isatty(0) == 1 && isatty(2) == 1};
    return dwcli::runCli(std::vector<std::string>(argv + 1, argv + argc), io);
}
