#include <gtest/gtest.h>

#include "platform/Workspace.h"

namespace lorvanta {
namespace {

TEST(Workspace, UrlFromStringTakesOnlyValidAbsoluteUrls) {
  struct Case {
    const char* text;
    bool valid;
  };
  const Case cases[] = {
      {"https://www.lorvanta.app/about-us", true},
      {"http://127.0.0.1:8080/lookup?id=1", true},
      {"mailto:someone@example.com", true},
      {"", false},
      {"about-us", false},
      {"/shop", false},
      {"https://exa mple.com/", false},
      {"http://[::1", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(urlFromString(c.text).has_value(), c.valid) << c.text;
  }
  EXPECT_EQ(urlFromString("https://shop.lorvanta.app/shop")->path(), "/shop");
}

}  // namespace
}  // namespace lorvanta
