// Reading element trees in desktop tests: finding an element of a ui_tree
// or ui_snapshot result, and repeating a call until its result shows what
// a test waits for (an application needs a moment to register or redraw;
// the tests wait for the state, never for a fixed time).
#ifndef TARVIX_TESTS_INTEGRATION_UI_ELEMENTS_H_
#define TARVIX_TESTS_INTEGRATION_UI_ELEMENTS_H_

#include <chrono>
#include <string_view>
#include <thread>

#include "json/json.h"

namespace tarvix::testing {

// The first element of `result` for which `test` holds, or null.
template <typename Test>
const Json* FindElement(const Json& result, Test test) {
  if (!result.is_object() || !result.contains("elements")) return nullptr;
  for (const Json& e : result["elements"]) {
    if (test(e)) return &e;
  }
  return nullptr;
}

inline const Json* FindElement(const Json& result, std::string_view role, std::string_view name) {
  return FindElement(result, [&](const Json& e) { return e["role"] == role && e["name"] == name; });
}

// `call()` every `every` until `done` holds of its result or `patience`
// has passed; the last result.
template <typename Call, typename Done>
Json PollUntil(Call call, Done done, std::chrono::milliseconds patience,
               std::chrono::milliseconds every = std::chrono::milliseconds(50)) {
  Json result;
  for (const auto deadline = std::chrono::steady_clock::now() + patience;
       std::chrono::steady_clock::now() < deadline;) {
    result = call();
    if (done(result)) break;
    std::this_thread::sleep_for(every);
  }
  return result;
}

}  // namespace tarvix::testing

#endif  // TARVIX_TESTS_INTEGRATION_UI_ELEMENTS_H_
