#include "rpc/http_reply.h"

#include <time.h>

#include <string_view>

namespace tarvix {

std::string BodyTooLargeBody(size_t limit) {
  return "{\"error\":\"request body too large (limit " + std::to_string(limit) +
         " bytes)\",\"ok\":false}";
}

namespace {

const char* ReasonPhrase(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 413: return "Content Too Large";
    default: return "Unknown";
  }
}

// The HTTP date of the current second, formatted at most once per second
// per thread.
std::string_view HttpDateNow() {
  thread_local time_t cached_second = -1;
  thread_local char cached[64];
  thread_local size_t cached_len = 0;
  const time_t now = time(nullptr);
  if (now != cached_second) {
    struct tm parts;
    gmtime_r(&now, &parts);
    cached_len = strftime(cached, sizeof cached, "%a, %d %b %Y %H:%M:%S GMT", &parts);
    cached_second = now;
  }
  return {cached, cached_len};
}

}  // namespace

std::string FormatReplyHead(int status, size_t body_size, bool close, bool http10) {
  std::string out;
  out.reserve(160);
  out += "HTTP/1.1 ";
  out += std::to_string(status);
  out += ' ';
  out += ReasonPhrase(status);
  out += "\r\nDate: ";
  out += HttpDateNow();
  out += "\r\nContent-Type: application/json\r\nContent-Length: ";
  out += std::to_string(body_size);
  if (close) {
    out += "\r\nConnection: close";
  } else if (http10) {
    out += "\r\nConnection: keep-alive";
  }
  out += "\r\n\r\n";
  return out;
}

}  // namespace tarvix
