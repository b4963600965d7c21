// HTTP intake: authentication, routing and body decoding.
//
// Everything here is a pure function of the request, so it is decided on
// the I/O thread as soon as the header is in (routing and authentication)
// or on a worker (body decoding) and tested without a network.
#ifndef TARVIX_RPC_INTAKE_H_
#define TARVIX_RPC_INTAKE_H_

#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "json/json.h"

namespace tarvix {

// Byte equality whose time depends only on the lengths.
bool ConstantTimeEq(std::string_view a, std::string_view b);

// The accepted tokens and the no-tokens flag, shared read-only.
class Authenticator {
 public:
  explicit Authenticator(const std::vector<std::string>& accepted_tokens);

  bool no_tokens() const { return expected_.empty(); }

  // `header_count` is how many "authorization" fields the request carried
  // (names compared case-insensitively) and `value` the value of the only
  // one. Exactly one field of "Bearer <token>" for an accepted token passes.
  bool Authenticate(size_t header_count, std::string_view value) const;

 private:
  std::vector<std::string> expected_;  // "Bearer " + token, in list order
};

enum class Route { kNotFound, kUnauthorized, kAccepted };

// Routing comes first (404 whether or not authenticated), then the token.
Route RouteRequest(std::string_view method, std::string_view target, bool authenticated);

// The complete reply body for the front's error statuses.
extern const char kNotFoundBody[];      // 404
extern const char kUnauthorizedBody[];  // 401
extern const char kBadBodyBody[];       // 400

struct RpcCall {
  std::string method;
  Json params;
};

// Decodes an accepted request's body. Fails (the 400 "bad body" case) only
// when the bytes are not UTF-8; text that is not a single JSON value counts
// as null, which yields the empty method name and empty params.
Result<RpcCall> DecodeBody(std::string_view body);

}  // namespace tarvix

#endif  // TARVIX_RPC_INTAKE_H_
