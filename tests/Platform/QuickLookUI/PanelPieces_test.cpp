// The panel's pure pieces: item addresses, the network wall's rule, the error page and the
// choice of the engine's renderer.
#include "QuickLookUI/ErrorPage.h"
#include "QuickLookUI/PanelEngine.h"
#include "QuickLookUI/PreviewRequestInterceptor.h"
#include "QuickLookUI/PreviewSchemes.h"

#include <gtest/gtest.h>

TEST(PreviewSchemes, PageAddressesNameTheirItemAndNothingElseDoes) {
  EXPECT_EQ(PreviewSchemes::pageURL(7).toString(), "qlpreview://item-7/");
  EXPECT_EQ(PreviewSchemes::itemOf(PreviewSchemes::pageURL(0)), 0);
  EXPECT_EQ(PreviewSchemes::itemOf(QUrl("qlpreview://item-12/#heading")), 12);
  EXPECT_EQ(PreviewSchemes::itemOf(QUrl("qlpreview://item--1/")), std::nullopt);
  EXPECT_EQ(PreviewSchemes::itemOf(QUrl("qlpreview://item-x/")), std::nullopt);
  EXPECT_EQ(PreviewSchemes::itemOf(QUrl("qlpreview://other/")), std::nullopt);
  EXPECT_EQ(PreviewSchemes::itemOf(QUrl("https://item-1/")), std::nullopt);
  EXPECT_EQ(PreviewSchemes::itemOf(QUrl()), std::nullopt);
}

TEST(PreviewRequestInterceptor, OnlyThePreviewsOwnAndInlineAddressesPass) {
  for (const char* allowed : {"qlpreview://item-0/", "cid:lumivale-asset-0",
                              "data:image/png;base64,AA", "blob:qlpreview://item-0/1234"})
    EXPECT_TRUE(PreviewRequestInterceptor::isAllowed(QUrl(allowed))) << allowed;
  for (const char* blocked :
       {"http://127.0.0.1/x.png", "https://example.org/", "file:///etc/passwd", "ws://127.0.0.1:1/",
        "ftp://host/file", "chrome://gpu", "qrc:/x"})
    EXPECT_FALSE(PreviewRequestInterceptor::isAllowed(QUrl(blocked))) << blocked;
}

TEST(ErrorPage, NameAndDescriptionAreEscapedAndThePageLoadsNothing) {
  const std::string page =
      ErrorPage::html("<img src=x onerror=alert(1)>.md", "bad \"quote\" & 'tick'");
  EXPECT_EQ(page.find("<img"), std::string::npos);
  EXPECT_NE(page.find("&lt;img src=x onerror=alert(1)&gt;.md"), std::string::npos);
  EXPECT_NE(page.find("bad &quot;quote&quot; &amp; &#39;tick&#39;"), std::string::npos);
  EXPECT_NE(page.find("default-src 'none'"), std::string::npos);
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_NE(page.find("data-lumivale-ready=\"true\""), std::string::npos);
}

TEST(PanelEngine, SoftwareQuickRendererOnlyWhenChromiumHasNoGPUAndTheUserChoseNone) {
  EXPECT_EQ(PanelEngine::quickBackendFor("--disable-gpu", ""), "software");
  EXPECT_EQ(PanelEngine::quickBackendFor("  --force-dark-mode   --disable-gpu ", ""), "software");
  EXPECT_EQ(PanelEngine::quickBackendFor("--disable-gpu", "opengl"), "opengl");
  EXPECT_EQ(PanelEngine::quickBackendFor("", ""), "");
  // Other flags that merely begin alike keep the GPU for drawing.
  EXPECT_EQ(PanelEngine::quickBackendFor("--disable-gpu-compositing --disable-gpu-vsync", ""), "");
}
