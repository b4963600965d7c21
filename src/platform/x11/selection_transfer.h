// The decisions of the X selection protocol that need no server: which
// target to ask an owner for, how the daemon answers a requestor's target,
// STRING for a text the daemon owns, and a bounded buffer for incoming text.
#ifndef TARVIX_PLATFORM_X11_SELECTION_TRANSFER_H_
#define TARVIX_PLATFORM_X11_SELECTION_TRANSFER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix {

// The atoms the clipboard speaks, interned once per connection.
struct SelectionAtoms {
  uint32_t clipboard = 0;
  uint32_t targets = 0;
  uint32_t timestamp = 0;
  uint32_t multiple = 0;
  uint32_t utf8_string = 0;
  uint32_t text = 0;
  uint32_t string = 0;
  uint32_t incr = 0;
};

// The target to convert the selection to, given the names the owner
// listed under TARGETS: UTF8_STRING, else STRING (Latin-1), else TEXT;
// "" when it offers none of them. An owner that did not answer TARGETS
// (`offered` unknown) is asked for UTF8_STRING, which most owners serve.
std::string_view ChooseReadTarget(const std::vector<std::string>& offered, bool offered_known);

// How the daemon, as owner, answers a request for `target`.
enum class ServedAs {
  kTargets,    // the list below, as ATOM
  kTimestamp,  // the time ownership was taken, as INTEGER
  kUtf8,       // the text as UTF8_STRING (also for TEXT)
  kLatin1,     // the text as STRING
  kRefused,    // property None: MULTIPLE, images, anything else
};
ServedAs ClassifyTarget(const SelectionAtoms& atoms, uint32_t target);
// What TARGETS lists, in the order of the preference above.
std::vector<uint32_t> OfferedTargets(const SelectionAtoms& atoms);

// STRING is ISO 8859-1 by the ICCCM (x_text.h converts it back).
// Characters outside Latin-1 (and ill-formed bytes) become '?'.
std::string Utf8ToLatin1(std::string_view utf8);

// Collects a transfer's bytes up to a limit; what goes past it is dropped
// and marks the text truncated.
class IncomingText {
 public:
  explicit IncomingText(size_t limit) : limit_(limit) {}
  // Appends what fits. False once the limit has been passed (the reader
  // stops asking for more).
  bool Append(std::string_view bytes);
  // The owner had more than it gave (a transfer cut short).
  void MarkTruncated() { truncated_ = true; }
  // Bytes still welcome before the limit is passed.
  size_t Room() const { return limit_ - data_.size(); }
  bool truncated() const { return truncated_; }
  std::string& data() { return data_; }

 private:
  size_t limit_;
  std::string data_;
  bool truncated_ = false;
};

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_X11_SELECTION_TRANSFER_H_
