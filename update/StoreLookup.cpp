#include "update/StoreLookup.h"

#include <curl/curl.h>

#include <mutex>

#include "update/StoreReply.h"

namespace lorvanta {

namespace {

struct Transfer {
  std::string body;
  bool tooLarge = false;
};

size_t appendBody(char* data, size_t size, size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  const size_t bytes = size * count;
  if (bytes > kMaxLookupReplyBytes - transfer->body.size()) {
    transfer->tooLarge = true;
    return 0;  // aborts the transfer
  }
  transfer->body.append(data, bytes);
  return bytes;
}

// Called by libcurl now and then during the transfer, also while it waits for data; a
// value other than 0 ends the transfer.
int abortWhenStopped(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<const std::stop_token*>(user)->stop_requested() ? 1 : 0;
}

}  // namespace

void prepareStoreLookup() {
  // Never undone: libcurl's global state lives as long as the process.
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::optional<QString> readURLContents(const std::string& url, std::stop_token stop) {
  prepareStoreLookup();
  CURL* curl = curl_easy_init();
  if (curl == nullptr) return std::nullopt;
  Transfer transfer;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  // A moved lookup service still answers; at most a few hops, web protocols only.
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, abortWhenStopped);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &stop);
  const CURLcode result = curl_easy_perform(curl);
  curl_easy_cleanup(curl);
  if (result != CURLE_OK || transfer.tooLarge) return std::nullopt;
  return textFromUTF8(transfer.body);
}

}  // namespace lorvanta
