#include "Foundation/URL.h"

#include <gtest/gtest.h>

TEST(URLTest, ComponentsAndExtensions) {
  URL url = URL::fileURLWithPath("/docs/Weekly.Report.md");
  EXPECT_EQ(url.lastPathComponent(), "Weekly.Report.md");
  EXPECT_EQ(url.pathExtension(), "md");
  EXPECT_EQ(url.deletingPathExtension().lastPathComponent(), "Weekly.Report");
  EXPECT_EQ(url.deletingLastPathComponent().path(), "/docs/");
  EXPECT_EQ(URL::fileURLWithPath("/docs/README").pathExtension(), "");
  EXPECT_EQ(URL::fileURLWithPath("/docs/.bashrc").pathExtension(), "");
  EXPECT_EQ(URL::fileURLWithPath("/docs/README").deletingPathExtension().lastPathComponent(),
            "README");
}

TEST(URLTest, StandardizingResolvesDotsLexically) {
  URL base = URL::fileURLWithPath("/a/b/");
  EXPECT_EQ(URL::fileURLWithPath("./c/../d.png", base).standardized().path(), "/a/b/d.png");
  EXPECT_EQ(URL::fileURLWithPath("../pictures/a.png", base).standardized().path(),
            "/a/pictures/a.png");
  EXPECT_EQ(URL::fileURLWithPath("../../../../../dev/zero", base).standardized().path(),
            "/dev/zero");
  EXPECT_EQ(URL::fileURLWithPath("/x/./y//z", base).standardized().path(), "/x/y/z");
}

TEST(URLTest, AbsoluteStringPercentEncodes) {
  EXPECT_EQ(URL::fileURLWithPath("/a b/c%.png").absoluteString(), "file:///a%20b/c%25.png");
}
