// What shuts an untrusted web page in for rendering: a copy of the page that may load
// nothing, and renderer profiles that run no scripts and reach no network. Any thread.
#pragma once

#include <string>

// Writes `source` to `target` behind a content policy that lets the page load nothing
// (no scripts, frames, images or styles from anywhere, local files included) but what it
// holds inline. 0, or the errno value of the failed read or write.
int WriteSandboxedPage(const std::string& source, const std::string& target);

// A fresh profile in `folder` for Chromium, with scripts off; its path, empty on failure.
std::string PrepareChromiumProfile(const std::string& folder);

// A fresh profile in `folder` for LibreOffice, with macros off, linked files and pictures
// not fetched and every network request sent to a proxy that does not resolve; its path,
// empty on failure.
std::string PrepareOfficeProfile(const std::string& folder);
