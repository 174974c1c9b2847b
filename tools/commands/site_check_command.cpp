// dlmtool site check: a download site checked as the program sees it.
#include <stdint.h>

#include <iostream>

#include "cli/args.h"
#include "cli/cli.h"
#include "cli/printing.h"
#include "commands/commands.h"
#include "files/files.h"
#include "buffer_sizes.h"
#include "pe/program_file.h"
#include "site/check/curl_web_client.h"
#include "site/formats/program_info.h"
#include "site/signer/signer_check.h"
#include "site/check/site_check.h"
#include "site/config/site_urls.h"

const char site_check_usage[] =
    "usage: dlmtool site check BOOTSTRAP_URL [SECOND_URL] [--as-program] [--json]\n"
    "                          [--connect-timeout S] [--max-time S] [--max-size BYTES]\n"
    "                          [--ca-file FILE]\n"
    "                          [--signer NAME --issuer NAME [--signer-ca-file FILE]]\n"
    "       dlmtool site check --program PROGRAM.exe [BOOTSTRAP_URL [SECOND_URL]]\n"
    "                          [the same options]\n"
    "Follows the chain of replies from each bootstrap URL on its own, as the\n"
    "program follows one, and reports whether it reaches a download\n"
    "directory; then fetches the manifest of every package in each directory\n"
    "reached and checks that its installer is served with status 200 and the\n"
    "size that the manifest announces, and reads back the tag of every\n"
    "partner copy that the directory's partners/index.txt lists. Exits 0 only\n"
    "when every chain reaches a directory and everything there is fine: the\n"
    "second URL exists for the day the first fails, so it must work too. The\n"
    "last line is the verdict, ok or FAIL, with the chains, packages and\n"
    "copies that are fine. A URL needs its scheme (http:// or https://).\n"
    "  --program PROGRAM.exe  the build of the program the site serves: without\n"
    "                URLs, check the two URLs it asks (read from it); with URLs (a\n"
    "                release not yet switched to, at a page no program asks),\n"
    "                check those. Either way a partner copy that asks other URLs\n"
    "                than the build's fails, and a build that pins a signer has\n"
    "                every installer checked against its signer and issuer, as\n"
    "                --signer and --issuer would (giving other names is a mistake)\n"    "  --as-program  resolve as the program does instead: the second URL only\n"
    "                when the first chain ends without a directory (one URL\n"
    "                serves for both when SECOND_URL is not given)\n"
    "  --json        one JSON object on standard output in place of the text:\n"
    "                \"chains\" (one object per bootstrap chain), \"directories\"\n"
    "                (each with its \"packages\" and \"partner_copies\", each copy\n"
    "                with its tag's \"placement\"), \"warnings\" (the plain http\n"
    "                links) and \"verdict\"; every verdict is \"ok\" or \"fail\" as\n"
    "                in the text\n"
    "  --signer NAME  fetch every installer whole, once, into a temporary file\n"
    "                (at most --max-size bytes), and check it as the program\n"
    "                built with DLM_INSTALLER_SIGNER=NAME does: a valid Authenticode\n"
    "                signature with a matching image digest, a chain to a trusted\n"
    "                root valid now (a timestamp never extends an expired\n"
    "                certificate), every authority on it allowing code signing,\n"
    "                a signer's certificate for code signing whose one common name\n"
    "                is NAME, byte for byte, without a NUL, and every timestamp\n"
    "                (legacy or RFC 3161) signed by a time-stamping authority\n"
    "                under the same roots. A certificate that expires within 30\n"
    "                days is warned about on standard error\n"    "  --issuer NAME  with --signer: the one common name of the authority that\n"
    "                issued the signer's certificate (DLM_INSTALLER_ISSUER)\n"
    "  --signer-ca-file FILE  the roots (PEM) the signer's chain may end at, as\n"
    "                the users' Windows trusts them; without it, this system's\n"
    "                trusted roots\n"
    "Only http and https are spoken, for the URLs and every redirection; any\n"
    "other scheme fails that link or package, and so does a redirection from\n"
    "https to http. Every request is bounded: at most\n"
    "--connect-timeout seconds to connect (15), --max-time seconds in all (120),\n"
    "and a body of at most --max-size bytes (1073741824) for an installer\n"
    "without a length or checked for its signer, or a partner copy. A request\n"
    "that reaches a limit fails its link or package, and the check goes on\n"
    "with the others. What a site\n"
    "sends is shown with control characters and bytes beyond ASCII escaped.\n"
    "Proxies: libcurl's usual environment variables (http_proxy, https_proxy,\n"
    "all_proxy, no_proxy) are honoured.\n"
    "An https server's certificate is checked as the program checks it: it must\n"
    "chain to a trusted root, name the host and be in its dates; one that fails\n"
    "fails its link or package.\n"
    "  --ca-file FILE  the trusted roots, as a PEM file, in place of the\n"
    "                  system's (a test root)\n"
    "Every plain http link of a chain, and a plain http download directory, is\n"
    "warned about on standard error, without failing the check: what it serves\n"
    "can be replaced on the way.\n";

namespace {

// The texts a build of the program stores, for --program.
StoredTexts program_texts(const ParsedArgs& args)
{
    if (!args.has("--program"))
        return StoredTexts();
    StoredTexts texts = find_stored_texts(read_windows_program(args.get("--program")));
    if (!texts.found)
        throw ToolError(args.get("--program") +
                        " holds no stored bootstrap URLs (not a build of the program?)");
    return texts;
}

// The URLs to check: those given, or those the program asks.
std::vector<std::string> bootstrap_urls(const ParsedArgs& args, const StoredTexts& texts)
{
    if (!args.positional.empty())
        return args.positional;
    if (!texts.found)
        throw UsageError("give one or two bootstrap URLs, or --program PROGRAM.exe");
    return {texts.bootstrap_1, texts.bootstrap_2};
}

// A name given beside --program is the build's own or a mistake: the users'
// copies check the build's.
void take_pinned(const ParsedArgs& args, const char* option, const std::string& pinned,
                 std::string* name)
{
    if (args.has(option) && args.get(option) != pinned)
        throw UsageError(std::string(option) + " '" + printable(args.get(option)) + "' differs from '" +
                         printable(pinned) + "', which " + args.get("--program") +
                         " pins: leave " + option + " out");
    *name = pinned;
}

// The signer's roots, read before the first request, not once for each
// installer after.
void read_signer_roots(const ParsedArgs& args)
{
    if (!args.has("--signer-ca-file"))
        return;
    readable_file_size(args.get("--signer-ca-file"));
    std::string problem = roots_problem(args.get("--signer-ca-file"));
    if (!problem.empty())
        throw ToolError(problem);
}

// The signer and issuer to hold every installer to: the build's pin, or
// those given.
void signer_options(const ParsedArgs& args, const StoredTexts& texts, CheckOptions* options)
{
    if (texts.checks_signer) {
        take_pinned(args, "--signer", texts.signer, &options->signer);
        take_pinned(args, "--issuer", texts.issuer, &options->issuer);
        return read_signer_roots(args);
    }
    if (args.has("--signer") && options->signer.empty())
        throw UsageError("--signer needs the signer's common name");
    if (args.has("--signer") != args.has("--issuer") ||
        (args.has("--issuer") && options->issuer.empty()))
        throw UsageError("--signer and --issuer go together, each with a common name");
    if (args.has("--signer-ca-file") && !args.has("--signer"))
        throw UsageError("--signer-ca-file goes with --signer, or --program of a build that pins one");
    read_signer_roots(args);
}

}  // namespace

int site_check_command(const ParsedArgs& args)
{
    StoredTexts texts = program_texts(args);
    std::vector<std::string> urls = bootstrap_urls(args, texts);
    for (const std::string& url : urls) {
        if (url.empty() || url.size() >= URL_BUFFER_SIZE)
            throw UsageError("a bootstrap URL must have 1 to " +
                             std::to_string(URL_BUFFER_SIZE - 1) + " characters");
    }
    const std::string& first = urls[0];
    const std::string& second = urls.size() > 1 ? urls[1] : first;
    WebLimits limits;
    const uint64_t DAY = 86400;
    limits.connect_seconds = static_cast<long>(number_option(
        args, "--connect-timeout", static_cast<uint64_t>(limits.connect_seconds), DAY));
    limits.total_seconds = static_cast<long>(
        number_option(args, "--max-time", static_cast<uint64_t>(limits.total_seconds), DAY));
    limits.max_body_bytes =
        number_option(args, "--max-size", limits.max_body_bytes, UINT64_MAX >> 1);
    // Without a scheme every request would go wherever libcurl guesses.
    for (const std::string& url : urls) {
        if (lacks_scheme(url))
            throw UsageError("bootstrap URL '" + printable(url) +
                             "' has no scheme: give http://... or https://...");
    }
    if (args.has("--ca-file")) {
        // A file that cannot be read is refused before any request.
        limits.ca_file = args.get("--ca-file");
        readable_file_size(limits.ca_file);
    }
    CurlWebClient web(limits);
    CheckOptions options{args.has("--as-program"), args.has("--json"), args.get("--signer"),
                         args.get("--issuer"), args.get("--signer-ca-file"), &std::cerr, {}};
    signer_options(args, texts, &options);
    if (texts.found)
        options.program_urls = {texts.bootstrap_1, texts.bootstrap_2};
    int result = check_site(first, second, web, std::cout, options);
    std::cout.flush();
    return result;
}
