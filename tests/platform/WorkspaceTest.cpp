#include <gtest/gtest.h>

#include <vector>

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

TEST(Workspace, OpenerSeesEachOpenedUrl) {
  std::vector<QUrl> opened;
  Workspace::shared().setOpener([&](const QUrl& url) {
    opened.push_back(url);
    return true;
  });
  const QUrl url("https://www.lorvanta.app/about-us");
  EXPECT_TRUE(Workspace::shared().openURL(url));
  EXPECT_TRUE(Workspace::shared().openURL(url));
  Workspace::shared().setOpener({});
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[1], url);
}

}  // namespace
}  // namespace lorvanta
