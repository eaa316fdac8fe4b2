// The daily check for a newer version on the vendor's update server. The check runs on a
// worker thread of its own; every function here may be called from any thread.
#pragma once

#include <functional>
#include <string>

#include "base/version.h"

// The first number of `text` as the C format "%d" reads it (leading white space, an
// optional sign, decimal digits), held to the int range; 0 when there is none.
int ReadVersionNumber(const std::string& text);

// The version the update server announces, 0 when no usable number was obtained.
int FetchLatestVersionNumber();

// The page that offers the download; only ever handed to the browser.
std::string GetDownloadPageUrl();

// One check: fetches the number, stores the time of a check that produced one, and calls
// `offerDownload` on this thread when the number is newer than this build's.
void UpdateCheckThread(const std::function<void()>& offerDownload);

// Runs UpdateCheckThread on a detached worker; whether a check is due is the caller's
// decision.
void StartUpdateCheck(std::function<void()> offerDownload);

// The headless stand-in for the notice: one line on the standard error stream.
void ReportNewVersionOnStderr();
