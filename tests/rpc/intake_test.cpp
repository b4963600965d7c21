#include "rpc/intake.h"

#include <gtest/gtest.h>

namespace tarvix {
namespace {

TEST(ConstantTimeEqTest, ComparesAllBytes) {
  EXPECT_TRUE(ConstantTimeEq("", ""));
  EXPECT_TRUE(ConstantTimeEq("Bearer abc", "Bearer abc"));
  EXPECT_FALSE(ConstantTimeEq("Bearer abc", "Bearer abd"));
  EXPECT_FALSE(ConstantTimeEq("xearer abc", "Bearer abc"));
  EXPECT_FALSE(ConstantTimeEq("Bearer ab", "Bearer abc"));
  EXPECT_FALSE(ConstantTimeEq(std::string_view("a\0b", 3), std::string_view("a\0c", 3)));
}

TEST(AuthenticatorTest, ExactlyOneExactBearerHeader) {
  const Authenticator auth({"one", "two"});
  EXPECT_FALSE(auth.no_tokens());
  EXPECT_TRUE(auth.Authenticate(1, "Bearer one"));
  EXPECT_TRUE(auth.Authenticate(1, "Bearer two"));
  EXPECT_FALSE(auth.Authenticate(2, "Bearer one"));
  EXPECT_FALSE(auth.Authenticate(0, ""));
  EXPECT_FALSE(auth.Authenticate(1, "bearer one"));
  EXPECT_FALSE(auth.Authenticate(1, "Bearer  one"));
  EXPECT_FALSE(auth.Authenticate(1, "Bearer one "));
  EXPECT_FALSE(auth.Authenticate(1, "Bearer ONE"));
  EXPECT_FALSE(auth.Authenticate(1, "Bearer zed-quota"));
}

TEST(AuthenticatorTest, NoTokensRejectsEverything) {
  const Authenticator auth({});
  EXPECT_TRUE(auth.no_tokens());
  EXPECT_FALSE(auth.Authenticate(1, "Bearer "));
  EXPECT_FALSE(auth.Authenticate(1, "Bearer zed-quota"));
}

TEST(RouteTest, NotFoundBeforeUnauthorized) {
  EXPECT_EQ(RouteRequest("POST", "/rpc", true), Route::kAccepted);
  EXPECT_EQ(RouteRequest("POST", "/rpc", false), Route::kUnauthorized);
  for (const char* target : {"/rpc?x=1", "/rpc/", "/RPC", "rpc", "/", "//rpc"}) {
    EXPECT_EQ(RouteRequest("POST", target, true), Route::kNotFound) << target;
  }
  for (const char* method : {"GET", "post", "OPTIONS", "PUT"}) {
    EXPECT_EQ(RouteRequest(method, "/rpc", true), Route::kNotFound) << method;
    EXPECT_EQ(RouteRequest(method, "/rpc", false), Route::kNotFound) << method;
  }
}

TEST(DecodeBodyTest, MethodAndParams) {
  Result<RpcCall> call = DecodeBody(R"({"method":"read_file","params":{"path":"/x"}})");
  ASSERT_TRUE(call);
  EXPECT_EQ(call->method, "read_file");
  EXPECT_EQ(call->params, Json({{"path", "/x"}}));

  call = DecodeBody(R"({"method":"ping"})");
  ASSERT_TRUE(call);
  EXPECT_EQ(call->params, Json::object());

  call = DecodeBody(R"({"method":7,"params":null})");
  ASSERT_TRUE(call);
  EXPECT_EQ(call->method, "");
  EXPECT_TRUE(call->params.is_null());

  call = DecodeBody(R"({"method":"x","params":"str"})");
  ASSERT_TRUE(call);
  EXPECT_EQ(call->params, Json("str"));
}

TEST(DecodeBodyTest, AnythingButAnObjectIsEmptyCall) {
  for (const char* body : {"", "not json", "[1,2]", "\"ping\"", R"({"method":"ping"} trailing)"}) {
    Result<RpcCall> call = DecodeBody(body);
    ASSERT_TRUE(call) << body;
    EXPECT_EQ(call->method, "") << body;
    EXPECT_EQ(call->params, Json::object()) << body;
  }
}

TEST(DecodeBodyTest, NonUtf8IsBadBody) {
  Result<RpcCall> call = DecodeBody("{\"method\":\"ping\xFF\"}");
  ASSERT_FALSE(call);
  EXPECT_EQ(call.error(), "bad body");
  EXPECT_FALSE(DecodeBody("\xED\xA0\x80"));  // an encoded surrogate is not UTF-8
}

}  // namespace
}  // namespace tarvix
