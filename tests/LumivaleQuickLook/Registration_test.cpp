#include "AppTestSupport.h"
#include "ExtensionRegistration.h"
#include "ProviderStatus.h"
#include "QuickLookRegistrationError.h"

#include <gtest/gtest.h>

using namespace apptest;

TEST(QuickLookRegistrationErrorTest, DescriptionTrimsOutputAndNamesTheCommand) {
  EXPECT_EQ((QuickLookRegistrationError{"/usr/bin/qlmanage -r", 1, ""}).localizedDescription(),
            "/usr/bin/qlmanage -r exited with status 1.");
  EXPECT_EQ(
      (QuickLookRegistrationError{"/t/pluginkit -e use", 2, " \n\t\r\n"}).localizedDescription(),
      "/t/pluginkit -e use exited with status 2.");
  EXPECT_EQ((QuickLookRegistrationError{"lsregister -f", 127, "\n\n  not found\nat all \n\n"})
                .localizedDescription(),
            "lsregister -f exited with status 127: not found\nat all");
  EXPECT_EQ((QuickLookRegistrationError{"q", -1,
                                        "\xC2\xA0"
                                        "50%\xE2\x80\xA8"})
                .localizedDescription(),
            "q exited with status -1: 50%");
}

class RegistrationTest : public ::testing::Test {
protected:
  TestApp app;
  RegistrationTools tools = RegistrationTools::fromBundle(app.bundle());
  URL bundleURL = URL::fileURLWithPath(app.bundlePath().string());
};

TEST_F(RegistrationTest, ToolsComeFromTheInfoDictionary) {
  EXPECT_EQ(tools.launchServices, app.tool("lsregister"));
  EXPECT_EQ(tools.plugInKit, app.tool("pluginkit"));
  EXPECT_EQ(tools.quickLook, app.tool("qlmanage"));
  EXPECT_EQ(tools.foreignSQLitePreviewIdentifier, "org.example.sqlite");
}

TEST_F(RegistrationTest, AllSevenStepsInOrder) {
  RegistrationResult result = registerExtensions(bundleURL, tools);
  EXPECT_TRUE(result.succeeded());
  EXPECT_EQ(app.toolLines(), app.expectedRegistration());
}

TEST_F(RegistrationTest, EachFailingStep) {
  const std::vector<std::string> steps = app.expectedRegistration();
  for (std::size_t failing = 0; failing < steps.size(); ++failing) {
    SCOPED_TRACE(steps[failing]);
    std::ofstream(app.toolLog(), std::ios::trunc).flush();
    ScopedEnvironment fail("FAKE_TOOL_FAIL", steps[failing].c_str());
    ScopedEnvironment output("FAKE_TOOL_FAIL_OUTPUT", "\n  it broke: 100%\n\n");
    RegistrationResult result = registerExtensions(bundleURL, tools);
    const bool stops = failing == 0 || failing >= 5; // lsregister, qlmanage -r, -r cache
    if (!stops) {
      EXPECT_TRUE(result.succeeded());
      EXPECT_EQ(app.toolLines(), steps);
      continue;
    }
    ASSERT_FALSE(result.succeeded());
    EXPECT_EQ(app.toolLines(),
              std::vector<std::string>(steps.begin(), steps.begin() + failing + 1));
    const auto* error = std::get_if<QuickLookRegistrationError>(&*result.error());
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->status, 1);
    EXPECT_EQ(error->command,
              (std::filesystem::path(app.tool("x")).parent_path() / "").string() + steps[failing]);
    EXPECT_EQ(result.localizedDescription(),
              error->command + " exited with status 1: it broke: 100%");
  }
}

TEST_F(RegistrationTest, QuickLookResetFailingSilentlyReadsAsThePartSays) {
  ScopedEnvironment fail("FAKE_TOOL_FAIL", "qlmanage -r");
  RegistrationResult result = registerExtensions(bundleURL, tools);
  EXPECT_EQ(result.localizedDescription(), app.tool("qlmanage") + " -r exited with status 1.");
}

TEST_F(RegistrationTest, MissingLaunchServicesToolStopsWithThePlatformError) {
  tools.launchServices = (app.root() / "missing" / "lsregister").string();
  RegistrationResult result = registerExtensions(bundleURL, tools);
  ASSERT_FALSE(result.succeeded());
  ASSERT_TRUE(std::holds_alternative<NSError>(*result.error()));
  EXPECT_EQ(result.localizedDescription(), "The file \u201clsregister\u201d doesn\u2019t exist.");
  EXPECT_TRUE(app.toolLines().empty());
}

TEST_F(RegistrationTest, MissingPlugInKitIsIgnored) {
  tools.plugInKit = (app.root() / "missing" / "pluginkit").string();
  EXPECT_TRUE(registerExtensions(bundleURL, tools).succeeded());
  EXPECT_EQ(app.toolLines().size(), 3u);
}

TEST(CommandRunnerTest, OnePipeForBothStreamsDrainedWhileTheToolRuns) {
  // Far more than a pipe buffers, on both streams: the run must not stall.
  const std::string output =
      captureOutput("/bin/sh", {"-c", "head -c 3000000 /dev/zero | tr '\\0' a; echo; "
                                      "echo to-stderr >&2; head -c 3000000 /dev/zero >&2; exit 3"});
  EXPECT_EQ(output.size(), 3000000u + 1 + 10 + 3000000u);
  EXPECT_NE(output.find("a\nto-stderr\n"), std::string::npos);
}

TEST(CommandRunnerTest, StatusesAndUndecodableOutput) {
  EXPECT_NO_THROW(runCommand("/bin/sh", {"-c", "echo fine"}));
  try {
    runCommand("/bin/sh", {"-c", "printf 'a b'; exit 4"});
    FAIL() << "a non-zero status must throw";
  } catch (const QuickLookRegistrationError& error) {
    EXPECT_EQ(error.command, "/bin/sh -c printf 'a b'; exit 4");
    EXPECT_EQ(error.status, 4);
    EXPECT_EQ(error.output, "a b");
  }
  EXPECT_EQ(captureOutput("/bin/sh", {"-c", "printf '\\377\\376'; exit 0"}), "");
  EXPECT_EQ(captureOutput("/bin/sh", {"-c", "printf listing; exit 9"}), "listing");
  EXPECT_THROW(captureOutput("/nonexistent/tool", {}), NSErrorException);
}

TEST(ProviderStatusTest, LinesOfTheListing) {
  const std::string line = "+    com.lumivale.quicklook.markdown(1.2)\n";
  EXPECT_EQ(providerStatusLine("Markdown", "com.lumivale.quicklook.markdown", line),
            "Markdown: Enabled 1.2");
  EXPECT_EQ(providerStatusLine("Markdown", "com.lumivale.quicklook.markdown",
                               "-    com.lumivale.quicklook.markdown(1.2)"),
            "Markdown: Disabled 1.2");
  EXPECT_EQ(providerStatusLine("Markdown", "com.lumivale.quicklook.markdown", "\n\n"),
            "Markdown: Not registered");
  EXPECT_EQ(providerStatusLine("Markdown", "com.lumivale.quicklook.markdown",
                               "\t+ com.lumivale.quicklook.markdown \t"),
            "Markdown: Enabled");
  EXPECT_EQ(providerStatusLine("N", "com.x", "=  com.x(2)\n!  com.x(3)"), "N: Disabled 2");
  EXPECT_EQ(providerStatusLine("N", "com.x", "!  com.x(3)"), "N: Disabled 3");
  EXPECT_EQ(providerStatusLine("N", "com.x", "+ com.x()"), "N: Enabled ");
  EXPECT_EQ(providerStatusLine("N", "com.x", "+ com.x(1.0"), "N: Enabled");
  EXPECT_EQ(providerStatusLine("N", "com.x", "+ com.y\n- com.x.more(5)\n+ com.x(6)"),
            "N: Disabled"); // the first line holding the identifier counts
  EXPECT_EQ(providerStatusLine("N", "com.x", "+ COM.X(1)"), "N: Not registered");
}

TEST(ProviderStatusTest, QueryThroughTheTool) {
  TestApp app;
  ScopedEnvironment listing("FAKE_TOOL_LISTING", "+    com.lumivale.quicklook.markdown(1.0)\n"
                                                 "-    com.lumivale.quicklook.notebook(1.0)\n");
  EXPECT_EQ(providerStatusLines(app.tool("pluginkit")),
            (std::vector<std::string>{"Markdown: Enabled 1.0", "Notebook: Disabled 1.0",
                                      "Tabular: Not registered"}));
  EXPECT_EQ(app.toolLines(),
            std::vector<std::string>{"pluginkit -m -p com.apple.quicklook.preview"});
  EXPECT_EQ(providerStatusLines("/nonexistent/pluginkit"),
            (std::vector<std::string>{"Markdown: Not registered", "Notebook: Not registered",
                                      "Tabular: Not registered"}));
}
