// dlmtool manifest: the package manifest that lies next to an installer.
#include <stdint.h>

#include "cli/args.h"
#include "cli/cli.h"
#include "commands/commands.h"
#include "files/files.h"
#include "files/output.h"
#include "site/package_manifest.h"

const char manifest_usage[] =
    "usage: dlmtool manifest --installer FILE [--news FILE] [--output FILE]\n"
    "Writes the package manifest: the installer's size in bytes, LF, then the\n"
    "lines of the news file, each ended by LF.\n" OUTPUT_FILE_NOTE;

int manifest_command(const ParsedArgs& args)
{
    std::string installer = required_option(args, "--installer", "FILE");
    uint64_t size = readable_file_size(installer);
    check_installer_size(size, installer);
    std::string news = args.has("--news") ? read_file(args.get("--news")) : std::string();
    write_output(args.get("-o"), make_manifest(size, news));
    return 0;
}
