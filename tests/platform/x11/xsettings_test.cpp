#include "platform/x11/xsettings.h"

#include <string>

#include <gtest/gtest.h>

namespace tarvix {
namespace {

// Builds an _XSETTINGS_SETTINGS blob in either byte order.
class Blob {
 public:
  explicit Blob(bool big_endian) : big_(big_endian) {
    bytes_ += static_cast<char>(big_endian ? 1 : 0);
    bytes_ += std::string(3, '\0');
    Card(4, 7);  // serial
    count_at_ = bytes_.size();
    Card(4, 0);
  }
  Blob& Integer(const std::string& name, int32_t value) {
    Head(0, name);
    Card(4, static_cast<uint32_t>(value));
    return Counted();
  }
  Blob& String(const std::string& name, const std::string& value) {
    Head(1, name);
    Card(4, static_cast<uint32_t>(value.size()));
    bytes_ += value + std::string((4 - value.size() % 4) % 4, '\0');
    return Counted();
  }
  Blob& Color(const std::string& name) {
    Head(2, name);
    bytes_ += std::string(8, '\x7f');
    return Counted();
  }
  const std::string& bytes() const { return bytes_; }

 private:
  void Card(int size, uint32_t value) {
    for (int i = 0; i < size; ++i) {
      const int shift = 8 * (big_ ? size - 1 - i : i);
      bytes_ += static_cast<char>((value >> shift) & 0xff);
    }
  }
  void Head(uint8_t type, const std::string& name) {
    bytes_ += static_cast<char>(type);
    bytes_ += '\0';
    Card(2, static_cast<uint32_t>(name.size()));
    bytes_ += name + std::string((4 - name.size() % 4) % 4, '\0');
    Card(4, 3);  // last-change serial
  }
  Blob& Counted() {
    ++count_;
    std::string count;
    for (int i = 0; i < 4; ++i) {
      count += static_cast<char>((count_ >> (8 * (big_ ? 3 - i : i))) & 0xff);
    }
    bytes_.replace(count_at_, 4, count);
    return *this;
  }
  bool big_;
  std::string bytes_;
  size_t count_at_ = 0;
  uint32_t count_ = 0;
};

TEST(XSettingsTest, FindsTheIntegerPastOtherSettingsInBothByteOrders) {
  for (const bool big_endian : {false, true}) {
    Blob blob(big_endian);
    blob.String("Net/ThemeName", "Adwaita").Color("Gtk/Color").Integer("Net/DoubleClickTime", 250);
    EXPECT_EQ(FindXSettingsInteger(blob.bytes(), "Net/DoubleClickTime"), 250) << big_endian;
    EXPECT_EQ(FindXSettingsInteger(blob.bytes(), "Net/ThemeName"), std::nullopt);
    EXPECT_EQ(FindXSettingsInteger(blob.bytes(), "Net/CursorBlinkTime"), std::nullopt);
  }
}

TEST(XSettingsTest, TruncatedOrUnknownDataGivesNothing) {
  Blob blob(false);
  blob.String("Net/ThemeName", "Adwaita").Integer("Net/DoubleClickTime", 250);
  const std::string& full = blob.bytes();
  for (size_t cut = 0; cut < full.size(); ++cut) {
    EXPECT_EQ(FindXSettingsInteger(full.substr(0, cut), "Net/DoubleClickTime"), std::nullopt)
        << cut;
  }
  std::string unknown_type = full;
  unknown_type[12] = 9;  // the first setting's type
  EXPECT_EQ(FindXSettingsInteger(unknown_type, "Net/DoubleClickTime"), std::nullopt);
}

}  // namespace
}  // namespace tarvix
