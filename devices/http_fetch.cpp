#include "devices/http_fetch.h"

#include <curl/curl.h>

#include <mutex>

namespace {

struct Sink {
  std::vector<std::uint8_t>* body;
  std::size_t limit;
  bool overflow = false;
};

std::size_t appendBody(char* data, std::size_t size, std::size_t count, void* user) {
  Sink* sink = static_cast<Sink*>(user);
  const std::size_t bytes = size * count;
  if (sink->body->size() + bytes > sink->limit) {
    sink->overflow = true;
    return 0;  // ends the transfer with a write error
  }
  sink->body->insert(sink->body->end(), data, data + bytes);
  return bytes;
}

}  // namespace

void dvrHttpGlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

dvrHttpFetcher::dvrHttpFetcher() { multi_ = curl_multi_init(); }

dvrHttpFetcher::~dvrHttpFetcher() {
  if (multi_) curl_multi_cleanup(static_cast<CURLM*>(multi_));
}

void dvrHttpFetcher::abort() {
  aborted_ = true;
  if (multi_) curl_multi_wakeup(static_cast<CURLM*>(multi_));
}

void dvrHttpFetcher::clearAbort() { aborted_ = false; }

dvrHttpFetcher::Result dvrHttpFetcher::fetch(const std::string& url, std::vector<std::uint8_t>& body,
                                             std::size_t limit, long timeoutSeconds) {
  body.clear();
  if (aborted_) return Result::aborted;
  CURLM* multi = static_cast<CURLM*>(multi_);
  CURL* easy = curl_easy_init();
  if (!multi || !easy) {
    if (easy) curl_easy_cleanup(easy);
    return Result::failed;
  }
  Sink sink{&body, limit};
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_TIMEOUT, timeoutSeconds);
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, appendBody);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(limit));

  Result result = Result::failed;
  curl_multi_add_handle(multi, easy);
  int running = 1;
  while (running > 0) {
    if (curl_multi_perform(multi, &running) != CURLM_OK) break;
    if (aborted_) {
      result = Result::aborted;
      break;
    }
    if (running == 0) break;
    // Woken early by data, by the time limit's own timer or by abort.
    curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
  }
  if (result != Result::aborted) {
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
      if (message->msg != CURLMSG_DONE || message->easy_handle != easy) continue;
      const CURLcode code = message->data.result;
      if (sink.overflow || code == CURLE_FILESIZE_EXCEEDED) result = Result::tooLarge;
      else if (code != CURLE_OK) result = Result::failed;
      else result = body.empty() ? Result::empty : Result::ok;
    }
  }
  curl_multi_remove_handle(multi, easy);
  curl_easy_cleanup(easy);
  if (result != Result::ok) body.clear();
  return result;
}
