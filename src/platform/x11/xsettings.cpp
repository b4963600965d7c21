#include "platform/x11/xsettings.h"

#include <string>

namespace tarvix {
namespace {

enum SettingType : uint8_t { kInteger = 0, kString = 1, kColor = 2 };

// Reads the settings blob front to back; every read is bounds-checked and
// a short read poisons the reader.
class Reader {
 public:
  Reader(std::string_view data, bool big_endian) : data_(data), big_endian_(big_endian) {}
  bool ok() const { return ok_; }

  uint32_t Card(size_t bytes) {
    if (!Has(bytes)) return 0;
    uint32_t value = 0;
    for (size_t i = 0; i < bytes; ++i) {
      const auto byte = static_cast<uint8_t>(data_[pos_ + (big_endian_ ? i : bytes - 1 - i)]);
      value = value << 8 | byte;
    }
    pos_ += bytes;
    return value;
  }
  std::string_view Bytes(size_t count) {
    if (!Has(count)) return {};
    const std::string_view bytes = data_.substr(pos_, count);
    pos_ += count;
    return bytes;
  }
  void Skip(size_t count) { Bytes(count); }
  // Skips the padding that aligns a field of `length` bytes to 4.
  void SkipPad(size_t length) { Skip((4 - length % 4) % 4); }

 private:
  bool Has(size_t count) {
    if (ok_ && count <= data_.size() - pos_) return true;
    ok_ = false;
    return false;
  }
  std::string_view data_;
  bool big_endian_;
  size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace

std::optional<int32_t> FindXSettingsInteger(std::string_view data, std::string_view name) {
  if (data.empty()) return std::nullopt;
  Reader reader(data, data[0] != 0);  // byte-order byte: 0 LSBFirst, 1 MSBFirst
  reader.Skip(4);
  reader.Card(4);  // serial
  const uint32_t count = reader.Card(4);
  for (uint32_t i = 0; i < count && reader.ok(); ++i) {
    const uint32_t type = reader.Card(1);
    reader.Skip(1);
    const uint32_t name_length = reader.Card(2);
    const std::string_view setting = reader.Bytes(name_length);
    reader.SkipPad(name_length);
    reader.Card(4);  // last-change serial
    if (type == kInteger) {
      const auto value = static_cast<int32_t>(reader.Card(4));
      if (reader.ok() && setting == name) return value;
    } else if (type == kString) {
      const uint32_t length = reader.Card(4);
      reader.Skip(length);
      reader.SkipPad(length);
    } else if (type == kColor) {
      reader.Skip(8);
    } else {
      return std::nullopt;  // an unknown type has an unknown size
    }
  }
  return std::nullopt;
}

std::string ReadXSettings(const XConnection& x) {
  xcb_connection_t* c = x.get();
  const xcb_atom_t selection = x.Atom("_XSETTINGS_S" + std::to_string(x.screen_number()));
  const xcb_atom_t property = x.Atom("_XSETTINGS_SETTINGS");
  if (selection == XCB_ATOM_NONE || property == XCB_ATOM_NONE) return {};
  XcbReply<xcb_get_selection_owner_reply_t> owner =
      x.ReplyOrNull<xcb_get_selection_owner_reply_t>(xcb_get_selection_owner(c, selection));
  if (!owner || owner->owner == XCB_NONE) return {};
  // Settings blobs are a few kilobytes; 64 KiB (in 4-byte units) bounds it.
  XcbReply<xcb_get_property_reply_t> settings = x.ReplyOrNull<xcb_get_property_reply_t>(
      xcb_get_property(c, 0, owner->owner, property, property, 0, 16384));
  if (!settings || settings->format != 8) return {};
  return std::string(static_cast<const char*>(xcb_get_property_value(settings.get())),
                     static_cast<size_t>(xcb_get_property_value_length(settings.get())));
}

}  // namespace tarvix
