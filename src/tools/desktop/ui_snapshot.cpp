#include "tools/desktop/ui_snapshot.h"

#include <algorithm>
#include <cmath>

#include "base/lower_case.h"
#include "json/params.h"
#include "tools/desktop/element_walk.h"
#include "tools/desktop/ui_tree.h"

namespace tarvix {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The walk stops starting new levels after this share of the deadline,
// leaving the rest for the attributes of what it found.
constexpr double kWalkShare = 0.6;

enum class Scope { kFocused, kWindow, kApp, kDesktop };

struct SnapshotParams {
  Scope scope = Scope::kFocused;
  uint64_t window = 0;
  int32_t pid = 0;
  size_t max_elements = kMaxElements;
  uint32_t max_depth = kMaxElementDepth;
  milliseconds deadline{1500};
  std::string query;  // lower-cased
  std::vector<std::string> roles;
  bool interactive_only = false;
  bool visible_only = true;
  bool filtering() const { return !query.empty() || !roles.empty() || interactive_only; }
};

// An integer member within [low, high]; absent keeps `*out`.
Result<void> ReadRange(const Json& params, std::string_view key, int64_t low, int64_t high,
                       int64_t* out) {
  const Json* value = FindParam(params, key);
  if (value == nullptr) return {};
  const std::optional<int64_t> number = SignedParam(params, key);
  if (!number || *number < low || *number > high) {
    return Error("invalid param: " + std::string(key) + " must be an integer from " +
                 std::to_string(low) + " to " + std::to_string(high));
  }
  *out = *number;
  return {};
}

Result<void> ReadFlag(const Json& params, std::string_view key, bool* out) {
  const Json* value = FindParam(params, key);
  if (value == nullptr) return {};
  if (!value->is_boolean()) return Error("invalid param: " + std::string(key) + " must be a boolean");
  *out = value->get<bool>();
  return {};
}

Result<SnapshotParams> ReadParams(const Json& params) {
  SnapshotParams out;
  if (const Json* scope = FindParam(params, "scope")) {
    static constexpr std::pair<std::string_view, Scope> kScopes[] = {
        {"focused", Scope::kFocused}, {"window", Scope::kWindow},
        {"app", Scope::kApp}, {"desktop", Scope::kDesktop}};
    const auto it = std::find_if(std::begin(kScopes), std::end(kScopes), [&](const auto& s) {
      return scope->is_string() && scope->get_ref<const std::string&>() == s.first;
    });
    if (it == std::end(kScopes)) {
      return Error("invalid param: scope must be one of focused, window, app, desktop");
    }
    out.scope = it->second;
  }
  if (out.scope == Scope::kWindow) {
    if (FindParam(params, "window") == nullptr) return Error(MissingParam("window"));
    const std::optional<uint64_t> window = UnsignedParam(params, "window");
    if (!window) return Error("invalid param: window must be a window id from the window list");
    out.window = *window;
  }
  if (out.scope == Scope::kApp) {
    if (FindParam(params, "pid") == nullptr) return Error(MissingParam("pid"));
    int64_t pid = 0;
    if (Result<void> read = ReadRange(params, "pid", 1, INT32_MAX, &pid); !read) return Error(read.error());
    out.pid = static_cast<int32_t>(pid);
  }
  int64_t max_elements = static_cast<int64_t>(out.max_elements);
  int64_t max_depth = out.max_depth;
  int64_t deadline = out.deadline.count();
  for (const Result<void>& read :
       {ReadRange(params, "max_elements", 1, kMaxSnapshotElements, &max_elements),
        ReadRange(params, "max_depth", 0, kMaxSnapshotDepth, &max_depth),
        ReadRange(params, "deadline_ms", 1, kMaxSnapshotDeadlineMs, &deadline),
        ReadFlag(params, "interactive_only", &out.interactive_only),
        ReadFlag(params, "visible_only", &out.visible_only)}) {
    if (!read) return Error(read.error());
  }
  out.max_elements = static_cast<size_t>(max_elements);
  out.max_depth = static_cast<uint32_t>(max_depth);
  out.deadline = milliseconds(deadline);
  if (const Json* query = FindParam(params, "query")) {
    if (!query->is_string()) return Error("invalid param: query must be a string");
    out.query = LowerCaseFull(query->get_ref<const std::string&>());
  }
  if (const Json* roles = FindParam(params, "roles")) {
    if (!roles->is_array()) return Error("invalid param: roles must be an array of role names");
    for (const Json& role : *roles) {
      if (!role.is_string()) return Error("invalid param: roles must be an array of role names");
      out.roles.push_back(role.get<std::string>());
    }
  }
  return out;
}

bool Contains(const std::string& text, const std::string& lower_needle) {
  return LowerCaseFull(text).find(lower_needle) != std::string::npos;
}

bool Matches(const ElementAttributes& a, const SnapshotParams& p) {
  if (!a.answered) return false;
  if (!p.query.empty() && !Contains(a.name, p.query) && !Contains(a.description, p.query) &&
      !(a.value && !a.secure && Contains(*a.value, p.query))) {
    return false;
  }
  if (!p.roles.empty() && std::find(p.roles.begin(), p.roles.end(), a.role) == p.roles.end()) {
    return false;
  }
  if (p.interactive_only && !(a.actions && !a.actions->empty()) && !a.editable) return false;
  return true;
}

Json StringArray(const std::vector<std::string>& items) {
  Json array(Json::value_t::array);
  array.get_ref<Json::array_t&>().assign(items.begin(), items.end());
  return array;
}

// The roots of the walk and what the reply needs of their windows.
struct Target {
  std::vector<ElementId> roots;
  std::vector<TopLevelWindow> windows;  // one per root
};

// The top-level window of `app` that is the X window `record`: the one
// titled alike, else the one whose bounds lie closest to its frame, else
// the application's only window.
std::optional<TopLevelWindow> MatchWindow(AccessibleApplication& app, const WindowRecord& record) {
  std::vector<TopLevelWindow> windows = app.Windows();
  std::erase_if(windows, [](const TopLevelWindow& w) { return !w.showing; });
  std::vector<TopLevelWindow> titled;
  for (const TopLevelWindow& w : windows) {
    if (w.title == record.title) titled.push_back(w);
  }
  if (titled.size() == 1) return titled[0];
  std::vector<TopLevelWindow>& candidates = titled.empty() ? windows : titled;
  if (candidates.size() == 1) return candidates[0];
  if (candidates.empty()) return std::nullopt;
  std::vector<ElementId> ids;
  for (const TopLevelWindow& w : candidates) ids.push_back(w.element);
  const std::vector<ElementAttributes> attributes = app.Attributes(ids);
  std::optional<size_t> best;
  double best_distance = 0;
  for (size_t i = 0; i < attributes.size() && i < candidates.size(); ++i) {
    if (!attributes[i].bounds) continue;
    const ElementBounds& b = *attributes[i].bounds;
    // Client-side decorations and frames make the element a little smaller
    // than the frame; its size and its centre tell best.
    const double distance = std::abs(b.width - record.width) + std::abs(b.height - record.height) +
                            std::abs(b.x + b.width / 2 - record.x - record.width / 2) +
                            std::abs(b.y + b.height / 2 - record.y - record.height / 2);
    if (!best || distance < best_distance) best = i, best_distance = distance;
  }
  if (!best) return std::nullopt;
  return candidates[*best];
}

}  // namespace

ToolResult UiSnapshotFrom(const Json& raw_params, const UiSnapshotSources& sources) {
  const Clock::time_point start = Clock::now();
  Result<SnapshotParams> read = ReadParams(raw_params);
  if (!read) return Error(std::move(read).error());
  const SnapshotParams& params = *read;
  const Clock::time_point deadline = start + params.deadline;

  // Which application(s) to open, and which window the scope names.
  std::optional<int32_t> pid;
  std::optional<WindowRecord> record;
  // The window list also gives the frames that window-relative bounds
  // are moved by.
  Result<std::vector<WindowRecord>> windows = sources.windows();
  if (params.scope == Scope::kFocused || params.scope == Scope::kWindow) {
    if (!windows) return Error(std::move(windows).error());
    if (params.scope == Scope::kFocused) {
      const WindowQuery listed = [&]() { return windows; };
      record = FrontWindow(listed);
      if (!record) return Error("unavailable: no focused window");
    } else {
      for (const WindowRecord& w : *windows) {
        if (w.id == params.window) record = w;
      }
      if (!record) {
        return Error("invalid param: window " + std::to_string(params.window) +
                     " is not in the window list");
      }
      if (!record->owner_pid) {
        return Error("unavailable: the owner of window " + std::to_string(params.window) +
                     " is unknown");
      }
    }
    pid = static_cast<int32_t>(*record->owner_pid);
  } else if (params.scope == Scope::kApp) {
    pid = params.pid;
  }
  if (!windows) windows = std::vector<WindowRecord>{};
  const auto left = std::max(milliseconds(1), std::chrono::duration_cast<milliseconds>(
                                                  deadline - Clock::now()));
  std::unique_ptr<AccessibleApplication> app = sources.open(pid, left);
  if (!app) {
    return Error(pid ? "unavailable: process " + std::to_string(*pid) +
                           " has no accessible application"
                     : std::string("unavailable: no accessible applications"));
  }

  Target target;
  switch (params.scope) {
    case Scope::kFocused:
      if (const std::optional<FocusedWindow> focused = app->Focused()) {
        target.roots.push_back(focused->element);
        target.windows.push_back({.element = focused->element,
                                  .pid = *pid,
                                  .title = focused->title,
                                  .active = true,
                                  .showing = true,
                                  .window_relative_bounds = focused->window_relative_bounds});
      }
      break;
    case Scope::kWindow:
      if (const std::optional<TopLevelWindow> window = MatchWindow(*app, *record)) {
        target.roots.push_back(window->element);
        target.windows.push_back(*window);
      }
      break;
    case Scope::kApp:
    case Scope::kDesktop:
      for (const TopLevelWindow& window : app->Windows()) {
        if (params.visible_only && !window.showing) continue;
        target.roots.push_back(window.element);
        target.windows.push_back(window);
      }
      break;
  }

  // Unfiltered, the walk stops at the cap; filtered, it reads as much as a
  // reply may ever hold and the filter picks.
  WalkLimits limits{.max_depth = params.max_depth,
                    .max_elements = params.filtering() ? kMaxSnapshotElements : params.max_elements,
                    .hidden_too = !params.visible_only,
                    .probe_depth = true,
                    .out_of_time = nullptr};
  const Clock::time_point walk_until = start + std::chrono::duration_cast<Clock::duration>(
                                                   params.deadline * kWalkShare);
  limits.out_of_time = [&]() { return Clock::now() >= walk_until || app->OutOfTime(); };
  const Walk walk = WalkElements(*app, target.roots, limits);
  std::vector<ElementId> ids;
  ids.reserve(walk.elements.size());
  for (const WalkedElement& element : walk.elements) ids.push_back(element.id);
  // Filtered, every element walked is read for what the filter needs;
  // what only the reply needs is read afterwards of the elements kept.
  const DetailReads filter_reads{.bounds = !params.filtering(),
                                 .actions = !params.filtering() || params.interactive_only,
                                 .value = !params.filtering() || !params.query.empty()};
  std::vector<ElementAttributes> attributes = app->DetailedAttributes(ids, filter_reads);
  attributes.resize(ids.size());

  // What stays: the matches (every element read, unfiltered) and their
  // ancestors, in walk order, up to the cap.
  const size_t n = walk.elements.size();
  std::vector<bool> keep(n);
  for (size_t i = 0; i < n; ++i) {
    keep[i] = params.filtering() ? Matches(attributes[i], params) : attributes[i].answered;
  }
  for (size_t i = n; i-- > 0;) {
    if (keep[i] && walk.elements[i].parent) keep[*walk.elements[i].parent] = true;
  }
  // An element nothing could be read of is left out even as an ancestor;
  // its children hang on the nearest ancestor read.
  for (size_t i = 0; i < n; ++i) keep[i] = keep[i] && attributes[i].answered;
  std::vector<size_t> kept;
  bool capped = false;
  for (size_t i = 0; i < n; ++i) {
    if (!keep[i]) continue;
    if (kept.size() >= params.max_elements) {
      capped = true;
      break;
    }
    kept.push_back(i);
  }

  if (params.filtering()) {
    // The bounds of the windows and of their children place their
    // elements (below) even when those are not kept.
    std::vector<size_t> more;
    for (size_t i = 0, k = 0; i < n; ++i) {
      const bool is_kept = k < kept.size() && kept[k] == i;
      if (is_kept) ++k;
      if (is_kept || walk.elements[i].depth <= 1) more.push_back(i);
    }
    std::vector<ElementId> more_ids;
    more_ids.reserve(more.size());
    for (size_t i : more) more_ids.push_back(walk.elements[i].id);
    const DetailReads rest{.bounds = !filter_reads.bounds,
                           .actions = !filter_reads.actions,
                           .value = !filter_reads.value};
    std::vector<ElementAttributes> read = app->DetailedAttributes(more_ids, rest);
    read.resize(more.size());
    for (size_t k = 0; k < more.size(); ++k) {
      ElementAttributes& a = attributes[more[k]];
      a.bounds = read[k].bounds;
      if (rest.actions) a.actions = std::move(read[k].actions);
      if (rest.value) a.value = std::move(read[k].value);
    }
  }

  // Window-relative bounds, window by window (each root starts its run).
  if (!target.roots.empty() && !walk.elements.empty()) {
    size_t window = 0, begin = 0;
    for (size_t i = 1; i <= walk.elements.size(); ++i) {
      if (i < walk.elements.size() && walk.elements[i].parent) continue;
      while (window < target.windows.size() &&
             target.windows[window].element != walk.elements[begin].id) {
        ++window;
      }
      if (window < target.windows.size()) {
        const TopLevelWindow& w = target.windows[window];
        MoveToScreen(w.window_relative_bounds, FrameOf(*windows, w.pid, w.title),
                     std::span(walk.elements).subspan(begin, i - begin),
                     std::span(attributes).subspan(begin, i - begin));
      }
      begin = i;
    }
  }

  std::vector<ElementHandle> handles;
  handles.reserve(kept.size());
  for (size_t i : kept) handles.push_back(app->Handle(walk.elements[i].id));
  const uint64_t number = sources.store->Add(std::move(handles));

  std::vector<std::optional<size_t>> ref_of(n);
  Json elements(Json::value_t::array);
  Json::array_t& records = elements.get_ref<Json::array_t&>();
  records.reserve(kept.size());
  for (size_t k = 0; k < kept.size(); ++k) {
    const size_t i = kept[k];
    ref_of[i] = k;
    // The nearest ancestor kept (unread ancestors may have been left out).
    std::optional<size_t> parent = walk.elements[i].parent;
    while (parent && !ref_of[*parent]) parent = walk.elements[*parent].parent;
    ElementAttributes& a = attributes[i];
    const bool enabled = a.enabled.value_or(true);
    const bool clickable = enabled && a.actions && HasPressAction(*a.actions, *sources.platform);
    // Field by field: a nested initializer list builds each field as a
    // two-element array first, several times slower over thousands.
    Json record(Json::value_t::object);
    Json::object_t& fields = record.get_ref<Json::object_t&>();
    fields.emplace("actions", a.actions ? StringArray(*a.actions) : Json(Json::value_t::array));
    fields.emplace("bounds", BoundsJson(a.bounds));
    fields.emplace("clickable", clickable);
    fields.emplace("depth", walk.elements[i].depth);
    fields.emplace("description", std::move(a.description));
    fields.emplace("enabled", enabled);
    fields.emplace("focused", a.focused);
    fields.emplace("name", std::move(a.name));
    fields.emplace("parent",
                   parent ? Json(ElementRefText({number, *ref_of[*parent]})) : Json(nullptr));
    fields.emplace("ref", ElementRefText({number, k}));
    fields.emplace("role", a.secure ? std::string("AXSecureTextField") : std::move(a.role));
    fields.emplace("states", StringArray(a.states));
    fields.emplace("value", a.value && !a.secure ? Json(std::move(*a.value)) : Json(nullptr));
    records.push_back(std::move(record));
  }

  const std::vector<int32_t> unresponsive = app->Unresponsive();
  Json truncated_by = nullptr;
  if (walk.hit_deadline || app->OutOfTime() || !unresponsive.empty()) {
    truncated_by = "deadline";
  } else if (capped || walk.hit_max_elements) {
    truncated_by = "max_elements";
  } else if (walk.hit_max_depth) {
    truncated_by = "max_depth";
  }
  Json unresponsive_json = Json::array();
  for (int32_t p : unresponsive) unresponsive_json.push_back(p);
  const size_t count = elements.size();
  const bool truncated = !truncated_by.is_null();
  return Json{{"count", count},
              {"elapsed_ms", std::chrono::duration_cast<milliseconds>(Clock::now() - start).count()},
              {"elements", std::move(elements)},
              {"snapshot", "s" + std::to_string(number)},
              {"source", sources.platform->source},
              {"truncated", truncated},
              {"truncated_by", std::move(truncated_by)},
              {"unresponsive", std::move(unresponsive_json)}};
}

ToolResult UiSnapshot(const Json& params) {
  return UiSnapshotFrom(params, {.windows = UntilFailure(QueryWindows),
                                 .open = OpenAccessibleApplications,
                                 .platform = &ThisAccessibilityPlatform(),
                                 .store = &DaemonSnapshotStore()});
}

}  // namespace tarvix
