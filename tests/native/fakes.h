// Stand-ins for the web and the system library versions, shared by the
// site, package and preparation tests.
#pragma once
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "site/formats/encipher.h"
#include "buffer_sizes.h"
#include "package.h"
#include "page_fetcher.h"

// Pages keyed by URL. Server replies are kept plain and handed out
// enciphered, as the servers send them; other pages go out as stored. A URL
// with no page cannot be opened. Every URL asked is recorded.
struct FakeWeb {
    std::map<std::string, std::string> pages;
    std::vector<std::string> asked;

    void reply(const std::string& url, const std::string& plain) { pages[url] = encipher(plain); }
    PageFetcher fetcher() { return PageFetcher{&FakeWeb::fetch, this}; }

    static int fetch(void* context, const char* url, char* reply)
    {
        FakeWeb& web = *static_cast<FakeWeb*>(context);
        web.asked.push_back(url);
        auto it = web.pages.find(url);
        size_t len = it == web.pages.end() ? 0 : std::min(it->second.size(), REPLY_BUFFER_SIZE);
        memcpy(reply, len ? it->second.data() : "", len);
        reply[len] = '\0';
        return it != web.pages.end();
    }
};

// File versions keyed by full path; a path without one cannot be read.
struct FakeVersions {
    std::map<std::string, std::pair<int, int>> versions;
    std::vector<std::string> read_paths;

    VersionReader reader() { return VersionReader{&FakeVersions::read, this}; }

    static int read(void* context, const char* path, int* major, int* minor)
    {
        FakeVersions& self = *static_cast<FakeVersions*>(context);
        self.read_paths.push_back(path);
        auto it = self.versions.find(path);
        if (it == self.versions.end())
            return 0;
        *major = it->second.first;
        *minor = it->second.second;
        return 1;
    }
};
