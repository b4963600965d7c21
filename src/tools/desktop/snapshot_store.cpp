#include "tools/desktop/snapshot_store.h"

#include <charconv>

#include "base/utf8.h"

namespace tarvix {
namespace {

// References are echoed in errors; a long one is cut.
constexpr size_t kMaxEchoedRef = 64;

std::optional<uint64_t> Decimal(std::string_view digits) {
  if (digits.empty() || (digits.size() > 1 && digits[0] == '0')) return std::nullopt;
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return value;
}

size_t BytesOf(const std::vector<ElementHandle>& elements) {
  size_t bytes = sizeof(ElementHandle) * elements.capacity();
  for (const ElementHandle& element : elements) bytes += element.locator.capacity();
  return bytes;
}

}  // namespace

std::optional<ElementRef> ParseElementRef(std::string_view text) {
  if (text.size() < 4 || text[0] != 's') return std::nullopt;
  const size_t e = text.find('e');
  if (e == std::string_view::npos) return std::nullopt;
  const std::optional<uint64_t> snapshot = Decimal(text.substr(1, e - 1));
  const std::optional<uint64_t> element = Decimal(text.substr(e + 1));
  if (!snapshot || *snapshot == 0 || !element) return std::nullopt;
  return ElementRef{*snapshot, static_cast<size_t>(*element)};
}

std::string ElementRefText(ElementRef ref) {
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) about
  // "s" + std::string at -O3.
  std::string text = "s";
  text += std::to_string(ref.snapshot);
  text += 'e';
  text += std::to_string(ref.element);
  return text;
}

uint64_t SnapshotStore::Add(std::vector<ElementHandle> elements) {
  const size_t bytes = BytesOf(elements);
  std::lock_guard lock(mutex_);
  const uint64_t number = ++last_;
  kept_.push_back({number, std::move(elements), bytes});
  bytes_ += bytes;
  // The newest snapshot stays even alone over the bound: its references
  // were just handed out.
  while (kept_.size() > kKeptSnapshots || (kept_.size() > 1 && bytes_ > kMaxStoreBytes)) {
    bytes_ -= kept_.front().bytes;
    kept_.pop_front();
  }
  return number;
}

Result<ElementHandle> SnapshotStore::Find(std::string_view ref) const {
  const std::optional<ElementRef> parsed = ParseElementRef(ref);
  if (!parsed) {
    std::string echoed = LossyUtf8(ref.substr(0, kMaxEchoedRef));
    if (ref.size() > kMaxEchoedRef) echoed += "...";
    return Error("unknown ref: " + echoed);
  }
  std::lock_guard lock(mutex_);
  if (parsed->snapshot > last_) return Error("unknown ref: " + std::string(ref));
  for (const Snapshot& snapshot : kept_) {
    if (snapshot.number != parsed->snapshot) continue;
    if (parsed->element >= snapshot.elements.size()) {
      return Error("unknown ref: " + std::string(ref));
    }
    return snapshot.elements[parsed->element];
  }
  return Error("stale ref: " + std::string(ref) + " (snapshot s" +
               std::to_string(parsed->snapshot) + " superseded)");
}

size_t SnapshotStore::bytes() const {
  std::lock_guard lock(mutex_);
  return bytes_;
}

SnapshotStore& DaemonSnapshotStore() {
  static auto* store = new SnapshotStore;  // lives as long as the process
  return *store;
}

}  // namespace tarvix
