#pragma once

#include <QString>
#include <optional>
#include <stop_token>
#include <string>

namespace lorvanta {

// Largest reply body the lookup accepts.
inline constexpr size_t kMaxLookupReplyBytes = 1 << 20;

// Reads `url` synchronously (HTTP GET) and returns the body decoded as UTF-8, whatever the
// status code. None when the transfer fails, the body is larger than kMaxLookupReplyBytes
// or is not valid UTF-8, or `stop` asks for a stop meanwhile (noticed within about a
// second, also while the server keeps silent). Sets no time-out of its own. Any thread.
std::optional<QString> readURLContents(const std::string& url, std::stop_token stop = {});

// One-time libcurl set-up. Main thread, before any worker reads.
void prepareStoreLookup();

}  // namespace lorvanta
