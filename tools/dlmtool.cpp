// dlmtool: the vendor's tool for the download manager's servers.
#include <stdio.h>
#include <string.h>

#include <iostream>
#include <iterator>
#include <string>

#include "encipher.h"

namespace {

const char usage[] =
    "usage: dlmtool COMMAND [ARGS]\n"
    "commands:\n"
    "  encipher    encipher standard input to standard output\n"
    "  decipher    decipher standard input to standard output\n";

std::string read_all(std::istream& in)
{
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || strcmp(argv[1], "--help") == 0) {
        fputs(usage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    std::string command = argv[1];
    if (command == "encipher" || command == "decipher") {
        std::string text = read_all(std::cin);
        std::cout << (command == "encipher" ? encipher(text) : decipher(text));
        return 0;
    }
    fprintf(stderr, "dlmtool: unknown command '%s'\n%s", argv[1], usage);
    return 2;
}
