// Where the reply pages of a site configuration lead: every redirect to a
// URL the program can take, within the site to one of its reply pages, in
// no loop and no longer chain than the program follows.
#pragma once
#include "site/config/config_reader.h"

// Refuses, naming the page's line, the first redirect that breaks a rule.
void check_reply_graph(const ConfigReader& reader);
