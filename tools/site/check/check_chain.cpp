#include "site/check/check_chain.h"

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "cli/printing.h"
#include "buffer_sizes.h"
#include "reply_record.h"
#include "site/formats/encipher.h"
#include "site_resolution.h"

namespace {

const size_t SHOWN_REPLY_LENGTH = 160;

// Text on one line, cut; empty when it holds bytes that are not text.
std::string one_line(const std::string& text)
{
    for (unsigned char c : text) {
        if ((c < ' ' && c != '\n' && c != '\r') || c >= 0x7F)
            return std::string();
    }
    std::string shown = printable(text);
    if (shown.size() > SHOWN_REPLY_LENGTH) {
        shown.resize(SHOWN_REPLY_LENGTH);
        shown += "...";
    }
    return shown;
}

// A reply as it reads once deciphered, for the chain listing. A body that
// deciphers to no text was most likely sent in plain (an error page, or a
// record someone forgot to encipher): it is shown as it came.
std::string shown_reply(const char* reply)
{
    if (reply[0] == '\0')
        return "empty";
    std::string plain = one_line(decipher(reply));
    if (!plain.empty())
        return plain;
    std::string raw = one_line(reply);
    if (!raw.empty())
        return "not enciphered: " + raw;
    return std::to_string(strlen(reply)) + " bytes that are not a reply record";
}

// The program's page fetcher over the web client, noting every URL of the
// chain with what it answered. A fetch of stop_url is not noted and
// answers nothing: it ends the chain before it.
struct ChainRecorder {
    WebClient& web;
    std::string stop_url;
    std::vector<FetchRecord> fetches;

    PageFetcher fetcher() { return PageFetcher{&ChainRecorder::fetch, this}; }

    static int fetch(void* context, const char* url, char* reply)
    {
        ChainRecorder& self = *static_cast<ChainRecorder*>(context);
        if (url == self.stop_url) {
            reply[0] = '\0';
            return 0;
        }
        int read = self.web.fetch_page(url, reply);
        FetchRecord record{url, self.web.last_status(), std::string(), reply};
        if (record.status == 0)
            record.answer = printable(self.web.last_error());
        else if (!read && !self.web.last_error().empty())
            record.answer = "cannot be read (" + printable(self.web.last_error()) + ")";
        else
            record.answer = shown_reply(reply);
        self.fetches.push_back(record);
        return read;
    }
};

// Stands for the second bootstrap URL when one chain is followed alone:
// no page of a site has it, and the recorder ends the chain at it.
const char STOP_URL[] = "dlmtool:end-of-chain";

// The URLs of a chain that came back to one it had asked before, as
// "a -> b -> a"; empty when none did.
std::string loop_of(const std::vector<FetchRecord>& fetches)
{
    for (size_t i = 1; i < fetches.size(); ++i) {
        for (size_t j = 0; j < i; ++j) {
            if (fetches[j].url != fetches[i].url)
                continue;
            std::string loop = fetches[j].url;
            for (size_t k = j + 1; k <= i; ++k)
                loop += " -> " + fetches[k].url;
            return loop;
        }
    }
    return std::string();
}

// Why the reply's URL field does not count, when it has one the program
// takes as absent; empty otherwise.
std::string ignored_url(const std::string& reply, const char* name)
{
    const char* value = find_field(reply.c_str(), name);
    if (!value || is_url_value(value))
        return std::string();
    // Raw: the report escapes the whole line as it prints it.
    return " (its " + std::string(name) + " '" + std::string(value, strcspn(value, "|")) +
           "' is not an http or https URL free of spaces and control characters: the program "
           "takes it as absent)";
}

// Why a chain that reached no directory ended, from its last reply.
std::string why_chain_ended(const std::vector<FetchRecord>& fetches)
{
    const FetchRecord& last = fetches.back();
    std::string reply = decipher(last.reply);
    if (fetches.size() > static_cast<size_t>(MAX_REDIRECTIONS) &&
        get_url_field(reply.c_str(), "sUrl", nullptr, 0)) {
        std::string loop = loop_of(fetches);
        if (!loop.empty())
            return "redirect loop: " + loop;
        return "more than " + std::to_string(MAX_REDIRECTIONS) +
               " redirections; the program follows at most " + std::to_string(MAX_REDIRECTIONS);
    }
    if (last.status == 0)
        return last.url + " cannot be opened";
    int32_t flag = 0;
    if (!get_int_field(reply.c_str(), "iFlag", &flag))
        return last.url + " is not a reply record (HTTP " + std::to_string(last.status) + ")";
    if (flag == 0)
        return last.url + " has iFlag=0 but no sDlurl the program can use" +
               ignored_url(reply, "sDlurl") + ignored_url(reply, "sUrl");
    return last.url + " has iFlag=" + std::to_string(flag) + " but no sUrl the program can use" +
           ignored_url(reply, "sUrl");
}

}  // namespace

// Runs the program's site resolution from two bootstrap URLs.
ChainReport resolve(const std::string& bootstrap_1, const std::string& bootstrap_2, WebClient& web)
{
    // The resolution takes the bootstrap URLs as the program stores them.
    std::string first = encipher(bootstrap_1);
    std::string second = encipher(bootstrap_2);
    ChainRecorder recorder{web, STOP_URL, {}};
    char* url_buffer = nullptr;
    char* reply_buffer = nullptr;
    ChainReport report;
    if (resolve_download_site(&url_buffer, &reply_buffer, first.c_str(), second.c_str(),
                              recorder.fetcher()))
        report.directory = url_buffer;
    free(url_buffer);
    free(reply_buffer);
    report.fetches = recorder.fetches;
    return report;
}

// The chain from one bootstrap URL alone.
ChainReport follow_chain(const std::string& bootstrap, WebClient& web)
{
    ChainReport report = resolve(bootstrap, STOP_URL, web);
    report.bootstrap = bootstrap;
    if (report.directory.empty())
        report.problem = why_chain_ended(report.fetches);
    return report;
}
