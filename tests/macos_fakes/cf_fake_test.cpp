// The fakes' own bookkeeping, which every other test relies on to catch
// leaks, over-releases and uses after release.
#include "fake_test.h"

namespace tarvix {
namespace {

CFStringRef Text(const char* utf8) {
  return CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(utf8),
                                 static_cast<CFIndex>(strlen(utf8)), kCFStringEncodingUTF8, false);
}

TEST(MacFakeRegistryTest, ReportsEachFault) {
  macfake::Reset();
  CFStringRef leaked = Text("kept");
  CFRetain(leaked);
  CFRelease(leaked);
  CFStringRef twice = Text("twice");
  CFRelease(twice);
  CFRelease(twice);
  CFStringRef used = Text("used");
  CFRelease(used);
  CFGetTypeID(used);
  EXPECT_EQ(CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>("\xC3"), 1,
                                    kCFStringEncodingUTF8, false),
            nullptr);
  EXPECT_THAT(macfake::CfFaults(),
              ::testing::ElementsAre("over-released CFString \"twice\"",
                                     "CFGetTypeID on a released CFString \"used\"",
                                     "leaked CFString \"kept\" (1 reference)"));
  macfake::Reset();
  EXPECT_THAT(macfake::CfFaults(), ::testing::IsEmpty());
}

}  // namespace
}  // namespace tarvix
