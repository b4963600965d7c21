#include "platform/x11/selection_transfer.h"

#include <algorithm>

#include "base/utf8.h"

namespace tarvix {

std::string_view ChooseReadTarget(const std::vector<std::string>& offered, bool offered_known) {
  if (!offered_known) return "UTF8_STRING";
  for (std::string_view wanted : {"UTF8_STRING", "STRING", "TEXT"}) {
    if (std::find(offered.begin(), offered.end(), wanted) != offered.end()) return wanted;
  }
  return "";
}

ServedAs ClassifyTarget(const SelectionAtoms& atoms, uint32_t target) {
  if (target == 0) return ServedAs::kRefused;
  if (target == atoms.targets) return ServedAs::kTargets;
  if (target == atoms.timestamp) return ServedAs::kTimestamp;
  if (target == atoms.utf8_string || target == atoms.text) return ServedAs::kUtf8;
  if (target == atoms.string) return ServedAs::kLatin1;
  return ServedAs::kRefused;
}

std::vector<uint32_t> OfferedTargets(const SelectionAtoms& atoms) {
  return {atoms.targets, atoms.timestamp, atoms.utf8_string, atoms.string, atoms.text};
}

std::string Utf8ToLatin1(std::string_view utf8) {
  const std::string valid = LossyUtf8(utf8);
  std::string out;
  out.reserve(valid.size());
  for (size_t i = 0; i < valid.size();) {
    size_t len = 1;
    const char32_t scalar = DecodeScalarAt(valid, i, &len);
    out += scalar < 0x100 ? static_cast<char>(scalar) : '?';
    i += len;
  }
  return out;
}

bool IncomingText::Append(std::string_view bytes) {
  const size_t room = Room();
  if (bytes.size() > room) {
    data_.append(bytes.substr(0, room));
    truncated_ = true;
    return false;
  }
  data_.append(bytes);
  return true;
}

}  // namespace tarvix
