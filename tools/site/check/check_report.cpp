#include "site/check/check_report.h"

#include <stddef.h>

#include <algorithm>

#include "cli/printing.h"
#include "text.h"

namespace {

int failures(const std::vector<ItemReport>& items)
{
    return static_cast<int>(std::count_if(items.begin(), items.end(),
                                          [](const ItemReport& item) { return !item.problem.empty(); }));
}

void print_chain(const ChainReport& chain, size_t number, std::ostream& out)
{
    if (chain.bootstrap.empty())
        out << "chain:\n";
    else
        out << "chain " << number << ": " << printable(chain.bootstrap) << "\n";
    for (const FetchRecord& fetch : chain.fetches) {
        out << "  " << printable(fetch.url) << " -> ";
        if (fetch.status == 0)
            out << "cannot be opened (" << fetch.answer << ")\n";
        else
            out << "HTTP " << fetch.status << ", " << fetch.answer << "\n";
    }
    std::string name = chain.bootstrap.empty() ? "the program" : "chain " + std::to_string(number);
    if (!chain.directory.empty())
        out << "ok   " << name << " reaches " << printable(chain.directory) << "\n";
    else if (chain.bootstrap.empty())
        out << "FAIL no download directory: both chains ended without one\n";
    else
        out << "FAIL " << name << " reaches no download directory: " << printable(chain.problem)
            << "\n";
}

void print_items(const std::vector<ItemReport>& items, const char* what, std::ostream& out)
{
    for (const ItemReport& item : items) {
        if (item.problem.empty())
            out << "ok   " << printable(item.name) << (item.detail.empty() ? "" : " ")
                << printable(item.detail) << "\n";
        else
            out << "FAIL " << printable(item.name) << ": " << printable(item.problem) << "\n";
    }
    int failed = failures(items);
    out << items.size() << " " << what << ": " << static_cast<int>(items.size()) - failed << " ok";
    if (failed)
        out << ", " << failed << " failed";
    out << "\n";
}

// Adds the items that are fine, and all, to the counts.
void add_counts(const std::vector<ItemReport>& items, size_t* fine, size_t* all)
{
    *fine += items.size() - static_cast<size_t>(failures(items));
    *all += items.size();
}

void print_verdict(const SiteReport& report, std::ostream& out)
{
    size_t chains = 0, packages = 0, all_packages = 0, copies = 0, all_copies = 0, unusable = 0;
    bool has_copies = false;
    for (const ChainReport& chain : report.chains)
        chains += chain.directory.empty() ? 0 : 1;
    for (const DirectoryReport& directory : report.directories) {
        unusable += directory.problem.empty() ? 0 : 1;
        add_counts(directory.packages, &packages, &all_packages);
        add_counts(directory.partner_copies, &copies, &all_copies);
        has_copies = has_copies || directory.has_partner_index;
    }
    out << "verdict: " << (passed(report) ? "ok" : "FAIL") << " (" << chains << " of "
        << report.chains.size() << (report.chains.size() == 1 ? " chain reaches" : " chains reach")
        << " a download directory; " << packages << " of " << all_packages << " packages";
    if (has_copies)
        out << " and " << copies << " of " << all_copies << " partner copies";
    out << " fine";
    if (unusable)
        out << "; " << unusable << " download " << (unusable == 1 ? "directory" : "directories")
            << " the program cannot use";
    out << ")\n";
}

}  // namespace

bool passed(const SiteReport& report)
{
    for (const ChainReport& chain : report.chains) {
        if (chain.directory.empty())
            return false;
    }
    for (const DirectoryReport& directory : report.directories) {
        if (!directory.problem.empty() || failures(directory.packages) ||
            failures(directory.partner_copies))
            return false;
    }
    return true;
}

void print_report(const SiteReport& report, std::ostream& out)
{
    for (size_t i = 0; i < report.chains.size(); ++i)
        print_chain(report.chains[i], i + 1, out);
    for (const DirectoryReport& directory : report.directories) {
        out << "download directory: " << printable(directory.url) << "\n";
        if (!directory.problem.empty()) {
            out << "FAIL " << printable(directory.problem) << "\n";
            continue;
        }
        print_items(directory.packages, "packages", out);
        if (directory.has_partner_index)
            print_items(directory.partner_copies, "partner copies", out);
    }
    print_verdict(report, out);
}

namespace {

std::string json_verdict(const std::string& problem)
{
    return problem.empty() ? "\"verdict\": \"ok\"" : "\"verdict\": \"fail\", \"problem\": " + json_string(problem);
}

std::string json_chain(const ChainReport& chain)
{
    std::string text = "{\"bootstrap\": " + (chain.bootstrap.empty() ? "null" : json_string(chain.bootstrap));
    std::string problem = chain.directory.empty() && chain.problem.empty()
                              ? "both chains ended without a download directory" : chain.problem;
    text += ", " + json_verdict(chain.directory.empty() ? problem : "") + ", \"directory\": " +
            (chain.directory.empty() ? "null" : json_string(chain.directory)) + ", \"fetches\": [";
    for (size_t i = 0; i < chain.fetches.size(); ++i) {
        const FetchRecord& fetch = chain.fetches[i];
        text += std::string(i ? ", " : "") + "{\"url\": " + json_string(fetch.url) +
                ", \"status\": " + std::to_string(fetch.status) + ", \"" +
                (fetch.status ? "reply" : "error") + "\": " + json_string(fetch.answer) + "}";
    }
    return text + "]}";
}

std::string json_items(const std::vector<ItemReport>& items)
{
    std::string text = "[";
    for (size_t i = 0; i < items.size(); ++i) {
        const ItemReport& item = items[i];
        text += std::string(i ? ",\n      " : "\n      ") + "{\"name\": " + json_string(item.name) +
                ", " + json_verdict(item.problem);
        if (item.size >= 0)
            text += ", \"size\": " + std::to_string(item.size);
        else if (item.problem.empty() && !item.detail.empty())
            text += ", \"detail\": " + json_string(item.detail);
        if (!item.placement.empty())
            text += ", \"placement\": " + json_string(item.placement);
        text += "}";
    }
    return text + "]";
}

}  // namespace

void print_json(const SiteReport& report, std::ostream& out)
{
    out << "{\"chains\": [";
    for (size_t i = 0; i < report.chains.size(); ++i)
        out << (i ? ",\n  " : "\n  ") << json_chain(report.chains[i]);
    out << "],\n \"directories\": [";
    for (size_t i = 0; i < report.directories.size(); ++i) {
        const DirectoryReport& directory = report.directories[i];
        out << (i ? ",\n  " : "\n  ") << "{\"url\": " << json_string(directory.url) << ", "
            << json_verdict(directory.problem) << ",\n   \"packages\": " << json_items(directory.packages)
            << ",\n   \"partner_copies\": " << json_items(directory.partner_copies) << "}";
    }
    out << "],\n \"warnings\": [";
    std::vector<std::string> warnings = plain_link_warnings(report);
    for (size_t i = 0; i < warnings.size(); ++i)
        out << (i ? ",\n  " : "\n  ") << json_string(warnings[i]);
    out << "],\n \"verdict\": \"" << (passed(report) ? "ok" : "fail") << "\"}\n";
}

namespace {

bool is_plain_http(const std::string& url)
{
    return starts_with_ignoring_case(url.c_str(), "http:");
}

}  // namespace

std::vector<std::string> plain_link_warnings(const SiteReport& report)
{
    std::vector<std::string> warned, lines;
    auto warn = [&](const std::string& url, const char* what) {
        if (!is_plain_http(url) || std::find(warned.begin(), warned.end(), url) != warned.end())
            return;
        warned.push_back(url);
        lines.push_back(url + " is plain http: " + what + " can be replaced on the way");
    };
    for (const ChainReport& chain : report.chains) {
        for (const FetchRecord& fetch : chain.fetches)
            warn(fetch.url, "its reply");
    }
    for (const DirectoryReport& directory : report.directories)
        warn(directory.url, "the manifests and installers");
    return lines;
}

void warn_plain_links(const SiteReport& report, std::ostream& warnings)
{
    for (const std::string& line : plain_link_warnings(report))
        warnings << "warning: " << printable(line) << "\n";
}
