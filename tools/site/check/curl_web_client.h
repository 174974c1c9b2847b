// The web client of dlmtool site check, over libcurl.
#pragma once
#include <string>

#include "site/check/web_client.h"

// A client over libcurl that speaks http and https only (the URL and every
// redirection), within limits.
class CurlWebClient : public WebClient {
public:
    explicit CurlWebClient(const WebLimits& limits = WebLimits());
    ~CurlWebClient() override;
    CurlWebClient(const CurlWebClient&) = delete;
    CurlWebClient& operator=(const CurlWebClient&) = delete;

    int fetch_page(const char* url, char* reply) override;
    long last_status() const override { return last_status_; }
    std::string last_error() const override { return last_error_; }
    InstallerProbe probe_installer(const std::string& url) override;
    FetchedFile fetch_file(const std::string& url) override;
    InstallerProbe fetch_to_file(const std::string& url, int fd) override;

private:
    WebLimits limits_;
    long last_status_ = 0;
    std::string last_error_;
};
