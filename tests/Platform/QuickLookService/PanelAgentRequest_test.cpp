// The request `qlmanage -p` sends the panel agent.
#include "QuickLookService/PanelAgentRequest.h"

#include <gtest/gtest.h>

// What `qlmanage -p` hands to the panel agent crosses as JSON: it arrives whole, and a request
// the agent cannot act on (no documents, a relative path, fields of the wrong kind) is refused
// with a reason rather than half shown.
TEST(PanelAgentRequest, RoundTripsAndRefusesWhatItCannotShow) {
  PanelAgentRequest request;
  request.items.push_back({"Notes \"1\".md", "/docs/Notes \"1\".md", "net.daringfireball.markdown",
                           "/apps/Q.app", "MarkdownLens", "/apps/Q.app/x/MarkdownLens", ""});
  request.items.push_back({"odd", "/docs/odd", "", "", "", "", "No extension handles it."});
  request.probe = "exit-after-first-text";
  request.app = "/apps/Q.app";
  request.desktop = {{"DISPLAY", ":7"}, {"GTK_THEME", "Adwaita:dark"}};
  std::string why;
  EXPECT_EQ(PanelAgentRequest::fromJSON(request.toJSON(), why), request) << why;

  for (const char* bad : {
           "",
           "[]",
           "{\"items\": []}",
           "{\"items\": [1]}",
           R"({"items": [{"name": "a", "path": "a.md", "contentType": "", "app": "/A.app",
               "extension": "M", "executable": "/M", "error": ""}]})",
           R"({"items": [{"name": "a", "path": "/a.md", "contentType": "", "app": "/A.app",
               "extension": "M", "executable": "", "error": ""}]})",
           R"({"items": [{"name": 1, "path": "/a.md", "contentType": "", "app": "/A.app",
               "extension": "M", "executable": "/M", "error": ""}]})",
           R"({"items": [{"name": "a", "error": "x"}]})",
           R"({"items": [{"name": "a", "path": "", "contentType": "", "app": "", "extension": "",
               "executable": "", "error": "x"}], "desktop": {"DISPLAY": 0}})",
       }) {
    why.clear();
    EXPECT_EQ(PanelAgentRequest::fromJSON(bad, why), std::nullopt) << bad;
    EXPECT_FALSE(why.empty()) << bad;
  }
}
