#include "rpc/batch.h"

#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "json/params.h"
#include "rpc/dispatch.h"

namespace tarvix {
namespace {

struct Step {
  const std::string* method;
  const Json* params;  // null: no params member, which counts as {}
};

std::string StepError(size_t index, std::string_view what) {
  return "invalid param: steps[" + std::to_string(index) + "]: " + std::string(what);
}

// Every step checked before the first runs, so a batch that cannot run
// completely in this mode runs not at all.
Result<std::vector<Step>> CheckSteps(const Json& params, const RpcService& service) {
  const Json* steps = FindParam(params, "steps");
  if (steps == nullptr) return Error(MissingParam("steps"));
  if (!steps->is_array() || steps->empty() || steps->size() > kMaxBatchSteps) {
    return Error("invalid param: steps (an array of 1-32 steps)");
  }
  std::vector<Step> out;
  out.reserve(steps->size());
  for (size_t i = 0; i < steps->size(); ++i) {
    const Json& step = (*steps)[i];
    if (!step.is_object()) return Error(StepError(i, "a step is an object {method, params}"));
    const std::string* method = StringParam(step, "method");
    if (method == nullptr) return Error(StepError(i, "missing method"));
    const MethodEntry* entry = FindMethod(service.table(), *method);
    if (entry == nullptr) return Error(StepError(i, "unknown method: " + *method));
    if (entry->handler == Batch) return Error(StepError(i, "batch cannot be nested"));
    const Json* step_params = FindParam(step, "params");
    if (step_params != nullptr && !step_params->is_object()) {
      return Error(StepError(i, "params must be an object"));
    }
    if (entry->needs_exec_mode() && !service.exec_mode()) {
      return Error("steps[" + std::to_string(i) + "]: " + ReadOnlyRefusal(*method));
    }
    out.push_back(Step{method, step_params});
  }
  return out;
}

// About the size of `value`'s JSON text, without writing it.
size_t ApproximateTextSize(const Json& value) {
  switch (value.type()) {
    case Json::value_t::string:
      return value.get_ref<const std::string&>().size() + 2;
    case Json::value_t::array: {
      size_t size = 2;
      for (const Json& item : value) size += ApproximateTextSize(item) + 1;
      return size;
    }
    case Json::value_t::object: {
      size_t size = 2;
      for (const auto& item : value.items()) {
        size += item.key().size() + 4 + ApproximateTextSize(item.value());
      }
      return size;
    }
    default:
      return 8;
  }
}

double RoundedMs(std::chrono::steady_clock::duration elapsed) {
  const double ms = std::chrono::duration<double, std::milli>(elapsed).count();
  return std::round(ms * 100) / 100;
}

}  // namespace

ToolResult Batch(const Json& params, const CallContext& context) {
  if (context.service == nullptr) return Error("unavailable: batch runs only on a request worker");
  const RpcService& service = *context.service;
  Result<std::vector<Step>> steps = CheckSteps(params, service);
  if (!steps) return Error(std::move(steps).error());

  Json results = Json::array();
  Json failed_at = nullptr;
  size_t completed = 0;
  size_t gathered = 0;
  const Json no_params = Json::object();
  for (size_t i = 0; i < steps->size(); ++i) {
    const Step& step = (*steps)[i];
    if (gathered >= kMaxBatchResultBytes) {
      results.push_back(Json{{"error", "refused: the results of this batch reached 64 MiB; "
                                       "this step and the rest were not run"},
                             {"ms", 0},
                             {"ok", false}});
      failed_at = i;
      break;
    }
    const auto start = std::chrono::steady_clock::now();
    ToolResult result =
        service.RunAudited(*step.method, step.params == nullptr ? no_params : *step.params);
    const double ms = RoundedMs(std::chrono::steady_clock::now() - start);
    if (!result) {
      results.push_back(Json{{"error", std::move(result).error()}, {"ms", ms}, {"ok", false}});
      failed_at = i;
      break;
    }
    gathered += ApproximateTextSize(*result);
    results.push_back(Json{{"ms", ms}, {"ok", true}, {"result", std::move(result).value()}});
    ++completed;
  }
  return Json{{"completed", completed}, {"failed_at", std::move(failed_at)},
              {"results", std::move(results)}};
}

}  // namespace tarvix
