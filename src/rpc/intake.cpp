#include "rpc/intake.h"

#include <openssl/crypto.h>

#include "base/utf8.h"

namespace tarvix {

const char kNotFoundBody[] = R"({"error":"not found","ok":false})";
const char kUnauthorizedBody[] = R"({"error":"unauthorized","ok":false})";
const char kBadBodyBody[] = R"({"error":"bad body","ok":false})";

bool ConstantTimeEq(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (a.empty()) return true;
  // CRYPTO_memcmp visits every byte and is written so the optimiser cannot
  // shortcut it.
  return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

Authenticator::Authenticator(const std::vector<std::string>& accepted_tokens) {
  expected_.reserve(accepted_tokens.size());
  for (const std::string& token : accepted_tokens) expected_.push_back("Bearer " + token);
}

bool Authenticator::Authenticate(size_t header_count, std::string_view value) const {
  if (no_tokens() || header_count != 1) return false;
  for (const std::string& expected : expected_) {
    if (ConstantTimeEq(value, expected)) return true;
  }
  return false;
}

Route RouteRequest(std::string_view method, std::string_view target, bool authenticated) {
  if (method != "POST" || target != "/rpc") return Route::kNotFound;
  return authenticated ? Route::kAccepted : Route::kUnauthorized;
}

Result<RpcCall> DecodeBody(std::string_view body) {
  if (!IsValidUtf8(body)) return Error("bad body");
  RpcCall call;
  Json value = ParseJsonOrNull(body);
  if (value.is_object()) {
    auto method = value.find("method");
    if (method != value.end() && method->is_string()) {
      call.method = std::move(method->get_ref<std::string&>());
    }
    auto params = value.find("params");
    if (params != value.end()) {
      call.params = std::move(*params);
      return call;
    }
  }
  call.params = Json::object();
  return call;
}

}  // namespace tarvix
