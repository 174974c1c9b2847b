// dlmtool manifest: the package manifest that lies next to an installer.
#include <stdint.h>

#include "cli/args.h"
#include "cli/cli.h"
#include "cli/printing.h"
#include "commands/commands.h"
#include "files/files.h"
#include "files/output.h"
#include "site/config/code_pages.h"
#include "site/formats/package_manifest.h"

const char manifest_usage[] =
    "usage: dlmtool manifest --installer FILE [--news FILE] [--language CODE]\n"
    "                        [--output FILE]\n"
    "Writes the package manifest: the installer's size in bytes, LF, then the\n"
    "lines of the news file, each ended by LF. With --language (CHT, DEU, ENG,\n"
    "SPA, FRE, ITA, JAP, KOR, DUT, POR, SWE) the news file is read as UTF-8 and\n"
    "written in that language's Windows code page (1252 for the Western ones,\n"
    "932 JAP, 949 KOR, 950 CHT), as the program shows it; a character that code\n"
    "page cannot hold is refused with its line. Without it the bytes go\n"
    "unchanged. Either way a manifest longer than the 22000 bytes the program\n"
    "reads is refused (the program would cut the rest).\n" OUTPUT_FILE_NOTE;

int manifest_command(const ParsedArgs& args)
{
    std::string installer = required_option(args, "--installer", "FILE");
    uint64_t size = readable_file_size(installer);
    check_installer_size(size, installer);
    std::string news = args.has("--news") ? read_file(args.get("--news")) : std::string();
    if (!args.has("--language")) {
        std::string manifest = make_manifest(size, news);
        check_manifest_length(manifest.size(), "the manifest");
        write_output(args.get("-o"), manifest);
        return 0;
    }
    // Told the language: the news in its users' code page, read whole.
    int page = code_page_of(args.get("--language"));
    if (page == 0)
        throw UsageError("--language takes a language code of the program (CHT, DEU, ENG, ...), not '" +
                         printable(args.get("--language")) + "'");
    std::string written;
    size_t line = 0;
    std::string why = lines_in_code_page(news, page, &written, &line);
    if (!why.empty())
        throw ToolError(printable(args.get("--news") + ":" + std::to_string(line + 1) + ": " + why));
    std::string manifest = make_manifest(size, written);
    check_manifest_length(manifest.size(), "the manifest");
    write_output(args.get("-o"), manifest);
    return 0;
}
