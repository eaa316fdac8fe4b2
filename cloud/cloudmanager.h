// Cloud identity and auth code, obtained from the vendor's API server. The free
// functions are stateless and callable from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "platform/httpclient.h"

// The stored identity when it is valid, else "". Never asks the server, so local replies
// that carry it never wait on the network; CCloudUuidRequest obtains a missing one.
std::string GetCloudUuid();

// Asks the server for a new identity with `http`: its answer when that is a valid
// identity, else "" (a failed request or an answer that is not one).
std::string RequestCloudUuid(CHttpClient& http);

// A six-character auth code for `uuid`, or "" when the request fails or the code is odd.
// Blocks the caller for a few seconds at most.
std::string RequestAuthCode(const std::string& uuid);

// Obtains a missing identity on the thread that calls Obtain: one request at a time,
// each within the client's time limits, retried after growing pauses.
class CCloudUuidRequest {
public:
  explicit CCloudUuidRequest(std::chrono::milliseconds firstPause = std::chrono::seconds(2),
                             std::chrono::milliseconds longestPause = std::chrono::minutes(10));

  // The stored identity, or else the first valid one the server issues, stored before it
  // is returned; "" once Stop is called.
  std::string Obtain();
  // Ends Obtain soon; callable from any thread. A request under way is cut off.
  void Stop();

private:
  const std::chrono::milliseconds firstPause;
  const std::chrono::milliseconds longestPause;
  CHttpClient http;
  std::mutex mutex;
  std::condition_variable stopWake;
  bool stopping = false;
};
