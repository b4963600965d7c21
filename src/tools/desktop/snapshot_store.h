// The element references "ui_snapshot" hands out ("s12e40": element 40 of
// snapshot 12) and the store that resolves them for "ui_action" and
// "ui_set_value".
//
// The store keeps the handles of the last kKeptSnapshots snapshots. One
// element costs its ElementHandle (about 80 bytes) plus its locator (on
// AT-SPI the bus name and object path, typically 40-70 bytes), so 8
// snapshots of 5000 elements hold about 6 MiB; whatever applications send,
// kMaxStoreBytes bounds it, older snapshots giving way first.
#ifndef TARVIX_TOOLS_DESKTOP_SNAPSHOT_STORE_H_
#define TARVIX_TOOLS_DESKTOP_SNAPSHOT_STORE_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "platform/accessibility.h"

namespace tarvix {

struct ElementRef {
  uint64_t snapshot = 0;
  size_t element = 0;
};

// "s<n>e<i>" with decimal n >= 1 and i >= 0, no signs, no leading zeros
// (other than "0" itself); nullopt otherwise.
std::optional<ElementRef> ParseElementRef(std::string_view text);
std::string ElementRefText(ElementRef ref);

// Thread-safe.
class SnapshotStore {
 public:
  static constexpr size_t kKeptSnapshots = 8;
  static constexpr size_t kMaxStoreBytes = 64 << 20;

  // Keeps `elements` as a new snapshot (element i answers to "s<n>e<i>")
  // and returns its number n; the oldest snapshot beyond kKeptSnapshots,
  // or beyond the byte bound, is dropped.
  uint64_t Add(std::vector<ElementHandle> elements);

  // The handle of `ref`: "unknown ref: <ref>" for text that is no
  // reference or names a snapshot or element never handed out,
  // "stale ref: <ref> (snapshot s<n> superseded)" for a dropped snapshot.
  Result<ElementHandle> Find(std::string_view ref) const;

  // The bytes the kept snapshots hold, as counted against kMaxStoreBytes.
  size_t bytes() const;

 private:
  struct Snapshot {
    uint64_t number;
    std::vector<ElementHandle> elements;
    size_t bytes;
  };
  mutable std::mutex mutex_;
  uint64_t last_ = 0;
  std::deque<Snapshot> kept_;
  size_t bytes_ = 0;
};

// The daemon's one store.
SnapshotStore& DaemonSnapshotStore();

}  // namespace tarvix

#endif  // TARVIX_TOOLS_DESKTOP_SNAPSHOT_STORE_H_
