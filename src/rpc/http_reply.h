// Reply heads of the HTTP front: the status line, Date, Content-Type,
// Content-Length and the connection header. No server product string is
// sent: the wire names no library or version.
#ifndef TARVIX_RPC_HTTP_REPLY_H_
#define TARVIX_RPC_HTTP_REPLY_H_

#include <cstddef>
#include <string>

namespace tarvix {

// The complete reply body for a request body over `limit` bytes (413):
// {"error":"request body too large (limit <limit> bytes)","ok":false}.
std::string BodyTooLargeBody(size_t limit);

// The head of a JSON reply with a body of `body_size` bytes. `close` adds
// "Connection: close"; an HTTP/1.0 client that keeps the connection gets
// "Connection: keep-alive".
std::string FormatReplyHead(int status, size_t body_size, bool close, bool http10);

}  // namespace tarvix

#endif  // TARVIX_RPC_HTTP_REPLY_H_
