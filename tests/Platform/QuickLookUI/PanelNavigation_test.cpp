// Following links in the panel: where a clicked link leads (resolved against the document's
// real folder, local targets checked before anything is opened), the Back/Forward history and
// the zoom ladder.
#include "QuickLookUI/LinkTarget.h"
#include "QuickLookUI/NavigationHistory.h"
#include "QuickLookUI/PreviewSchemes.h"
#include "QuickLookUI/ZoomSteps.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

class LinkTargetTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(root_.isValid());
    QDir(root_.path()).mkpath("docs/sub");
    write("docs/Read Me.md");
    write("docs/other.mmd");
    write("docs/picture.png");
    write("secret.md"); // beside docs/, reached with ..
    write("docs/tool.sh");
    QFile::setPermissions(path("docs/tool.sh"), QFile::ReadOwner | QFile::ExeOwner);
    write("docs/launch.desktop");
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("docs/pipe.md")).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(path("secret.md"), path("docs/alias.md")));
  }
  QString path(const QString& relative) const { return root_.path() + "/" + relative; }
  void write(const QString& relative) {
    QFile file(path(relative));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("# text\n");
  }
  QUrl page() const { return PreviewSchemes::pageURL(0, path("docs/Read Me.md")); }
  // A link as the engine hands it over: resolved against the page's address.
  LinkTarget follow(const QString& href) const {
    return LinkTarget::of(page().resolved(QUrl(href)), page(), [](const QString& file) {
      return file.endsWith(".md") || file.endsWith(".mmd");
    });
  }
  QString canonical(const QString& relative) const {
    return QFileInfo(path(relative)).canonicalFilePath();
  }

  QTemporaryDir root_;
};

TEST_F(LinkTargetTest, RelativeLinksResolveAgainstTheDocumentsRealFolder) {
  LinkTarget sibling = follow("other.mmd#start");
  EXPECT_EQ(sibling.action, LinkTarget::Action::previewDocument);
  EXPECT_EQ(sibling.path, canonical("docs/other.mmd"));
  EXPECT_EQ(sibling.fragment, "start");

  // Climbing out of the folder reaches the real parent, and a symbolic link its target.
  EXPECT_EQ(follow("../secret.md").path, canonical("secret.md"));
  EXPECT_EQ(follow("sub/../../secret.md").action, LinkTarget::Action::previewDocument);
  EXPECT_EQ(follow("alias.md").path, canonical("secret.md"));
  // Spaces and escapes in names survive the round trip through the address.
  EXPECT_EQ(follow("Read%20Me.md").path, canonical("docs/Read Me.md"));
  // A file: URL names its file directly.
  EXPECT_EQ(follow(QUrl::fromLocalFile(path("secret.md")).toString()).path, canonical("secret.md"));
}

TEST_F(LinkTargetTest, OtherFilesOpenWithTheDesktopButProgramsNever) {
  LinkTarget picture = follow("picture.png");
  EXPECT_EQ(picture.action, LinkTarget::Action::openWithDefaultApp);
  EXPECT_EQ(picture.path, canonical("docs/picture.png"));
  EXPECT_EQ(follow("tool.sh").action, LinkTarget::Action::refuse);
  EXPECT_EQ(follow("launch.desktop").action, LinkTarget::Action::refuse);
}

TEST_F(LinkTargetTest, WhatIsNotAReadableRegularFileIsRefusedWithAReason) {
  const struct {
    QString href;
    QString reason;
  } cases[] = {
      {"pipe.md", "named pipe"},
      {"sub", "folder"},
      {"sub/", "folder"},
      {"../../../../../../../../", "folder"},
      {"missing.md", "no such file"},
      {"picture.png/inside.md", "no such file"},
      {QUrl::fromLocalFile("/dev/null").toString(), "device"},
      {"file://otherhost/etc/hosts", "not followed"},
      {"javascript:alert(1)", "not followed"},
      {"ftp://example.org/x.md", "not followed"},
  };
  for (const auto& [href, reason] : cases) {
    const LinkTarget target = follow(href);
    EXPECT_EQ(target.action, LinkTarget::Action::refuse) << href.toStdString();
    EXPECT_TRUE(target.problem.contains(reason, Qt::CaseInsensitive))
        << href.toStdString() << ": " << target.problem.toStdString();
  }
  // Without the document's path there is no folder for a relative link.
  const QUrl bare = PreviewSchemes::pageURL(0);
  EXPECT_EQ(
      LinkTarget::of(bare.resolved(QUrl("other.mmd")), bare, [](const QString&) { return true; })
          .action,
      LinkTarget::Action::refuse);
}

TEST_F(LinkTargetTest, WebAndMailLinksGoToTheBrowserAsTheyAre) {
  for (const char* href : {"https://example.org/a?b#c", "http://127.0.0.1:1/", "mailto:a@b.c"}) {
    const LinkTarget target = follow(href);
    EXPECT_EQ(target.action, LinkTarget::Action::openInBrowser) << href;
    EXPECT_EQ(target.url, QUrl(href));
  }
}

TEST(LinkTarget, ASocketIsNotAFile) {
  QTemporaryDir dir;
  const QByteArray socketPath = QFile::encodeName(dir.path() + "/s.md");
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.constData(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  auto examined = examineLocalFile(QFile::decodeName(socketPath));
  ::close(fd);
  ASSERT_TRUE(std::holds_alternative<LocalFileProblem>(examined));
  EXPECT_TRUE(std::get<LocalFileProblem>(examined).description.contains("socket"));
}

TEST(PreviewSchemes, PageAddressesCarryTheDocumentPath) {
  const QUrl url = PreviewSchemes::pageURL(3, "/home/a b/#notes?.md");
  EXPECT_EQ(PreviewSchemes::itemOf(url), 3);
  EXPECT_EQ(PreviewSchemes::documentPathOf(url), "/home/a b/#notes?.md");
  EXPECT_TRUE(url.fragment().isEmpty());
  EXPECT_TRUE(url.query().isEmpty());
  EXPECT_EQ(PreviewSchemes::documentPathOf(PreviewSchemes::pageURL(3)), "");
  EXPECT_EQ(PreviewSchemes::documentPathOf(QUrl("file:///etc/hosts")), "");
}

TEST(NavigationHistory, BackAndForwardRetraceAndAVisitDropsWhatWasAhead) {
  NavigationHistory history;
  EXPECT_FALSE(history.back());
  EXPECT_FALSE(history.current());
  history.visit({0, {}});
  history.visit({1, "intro"});
  history.visit({1, "intro"}); // a second click on the same link adds nothing
  history.visit({2, {}});
  EXPECT_EQ(history.back(), (NavigationHistory::Entry{1, "intro"}));
  EXPECT_EQ(history.back(), (NavigationHistory::Entry{0, {}}));
  EXPECT_FALSE(history.back());
  EXPECT_FALSE(history.canGoBack());
  EXPECT_EQ(history.forward(), (NavigationHistory::Entry{1, "intro"}));
  history.visit({3, {}});
  EXPECT_FALSE(history.canGoForward());
  EXPECT_EQ(history.back(), (NavigationHistory::Entry{1, "intro"}));
  EXPECT_EQ(history.forward(), (NavigationHistory::Entry{3, {}}));
}

TEST(ZoomSteps, InAndOutRetraceTheLadderWithinItsBounds) {
  double factor = 1.0;
  std::vector<double> up;
  for (int i = 0; i < 30; ++i)
    up.push_back(factor = ZoomSteps::zoomedIn(factor));
  EXPECT_DOUBLE_EQ(up.front(), 1.1);
  EXPECT_DOUBLE_EQ(factor, ZoomSteps::kLargest);
  for (int i = 0; i < 30; ++i)
    factor = ZoomSteps::zoomedOut(factor);
  EXPECT_DOUBLE_EQ(factor, ZoomSteps::kSmallest);
  EXPECT_DOUBLE_EQ(ZoomSteps::zoomedOut(ZoomSteps::zoomedIn(1.0)), 1.0);
  // A factor between levels (as the engine may round it) goes to the neighbouring level.
  EXPECT_DOUBLE_EQ(ZoomSteps::zoomedIn(1.2), 1.25);
  EXPECT_DOUBLE_EQ(ZoomSteps::zoomedOut(1.2), 1.1);
  EXPECT_DOUBLE_EQ(ZoomSteps::zoomedIn(1.0999), 1.25);
}

} // namespace
