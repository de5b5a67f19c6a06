#pragma once
#include <string>

// Addresses on the update server. The server is configured as "host[:port]"
// (plain HTTP, the default), "http://host[:port]" or "https://host[:port]".

// The URL of path (which starts with '/') on the server.
std::string ServerUrl(const std::string& host, const std::string& path);

// Help page n (1 to 3) of the about box: <server>/brisken/help<n>.html.
std::string HelpPageUrl(const std::string& host, int n);
