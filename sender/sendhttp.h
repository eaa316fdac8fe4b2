// How olvaro-send uses the HTTP client: its time limits, its progress bar, and what it
// says when a relay or PC gives no answer it can read.
#pragma once

#include <string>

#include "platform/httpclient.h"

// `http` with `timeoutSeconds` as the longest silence and twice that for a whole request
// (a file upload gets more time by its size), keeping the bodies of error answers, which
// say why; each answer is held to the client's cap on bodies.
void UseSendLimits(CHttpClient& http, int timeoutSeconds);

// Draws the progress of uploads on the standard error when it is a terminal.
void ShowUploadProgress(CHttpClient& http);

// True when `result` is an answer to read, a success or an error status; otherwise says
// on the standard error that `who` gave none, and why.
bool Answered(const HttpResult& result, const std::string& who);
