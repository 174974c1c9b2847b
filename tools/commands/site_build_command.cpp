// dlmtool site build: a static download site from a site configuration.
#include <iostream>

#include "cli/args.h"
#include "cli/cli.h"
#include "cli/printing.h"
#include "commands/commands.h"
#include "files/files.h"
#include "files/output.h"
#include "site/config/config_file.h"
#include "site/build/site_build.h"
#include "site/signer/signer_check.h"
#include "site/config/site_config.h"

const char site_build_usage[] =
    "usage: dlmtool site build CONFIG OUTDIR [--release NAME] [--signer-ca-file FILE] [--json]\n"
    "Writes a static download site under OUTDIR, to be served as it is with\n"
    "OUTDIR as the document root: every package's manifest and installer in\n"
    "the download directory, and the reply pages. The format of CONFIG is\n"
    "described in docs/site-config.md. Refuses, naming the line, a redirect\n"
    "within the site to a page it does not have, to a manifest or an\n"
    "installer, in a loop, or in a chain longer than the program follows.\n"
    "  --release NAME  the download directory in a folder of this release's own,\n"
    "          DIRECTORY/NAME/, and the reply pages pointing there: upload\n"
    "          that folder first and the reply pages last, so that every user\n"
    "          is on the old release or the new one, never between (the order\n"
    "          is printed; docs/site-config.md says how to retire the old). The\n"
    "          folder must be new or empty; the partner copies go to\n"
    "          DIRECTORY/partners/, beside the release folders, whose address\n"
    "          stays from release to release, and that folder is written whole\n"
    "  --signer-ca-file FILE  when the configuration's program pins the\n"
    "          installers' signer: the roots (PEM) their chain must end at. Every\n"
    "          installer is checked against the pin before anything is written\n"
    "          (signature, image digest, code-signing usage, the signer's and\n"
    "          issuer's one common name, expiry); without this option, the\n"
    "          chain's root is not judged\n"
    "  --json  the summary as one JSON object (download_directory, folder,\n"
    "          manifests, news_lines, installers, copied, hard_links, pages,\n"
    "          replaced_package_files, partner_copies)\n" OUTPUT_FILE_NOTE;

int site_build_command(const ParsedArgs& args)
{
    const std::string& outdir = args.positional[1];
    SiteConfig config = read_site_config(args.positional[0]);
    if (args.has("--release"))
        set_release(&config, args.get("--release"));
    std::string roots = args.get("--signer-ca-file");
    if (args.has("--signer-ca-file")) {
        // Read before anything is written.
        readable_file_size(roots);
        std::string problem = roots_problem(roots);
        if (!problem.empty())
            throw ToolError(problem);
    }
    SiteBuildSummary summary = build_site(config, outdir, roots);
    for (const std::string& warning : summary.warnings)
        std::cerr << "warning: " << printable(warning) << "\n";
    write_output("", args.has("--json") ? describe_build_json(config, summary, outdir)
                                        : describe_build(config, summary, outdir));
    return 0;
}
