#include "QuickLookUI/LinkTarget.h"

#include "QuickLookUI/PreviewSchemes.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool isWebOrMail(const QUrl& url) {
  const QString scheme = url.scheme();
  return url.isValid() && (scheme == QLatin1String("https") || scheme == QLatin1String("http") ||
                           scheme == QLatin1String("mailto"));
}

LinkTarget refused(QString name, QString problem) {
  LinkTarget target;
  target.action = LinkTarget::Action::refuse;
  target.name = std::move(name);
  target.problem = std::move(problem);
  return target;
}

// A file the desktop would run rather than show.
bool isProgram(const QString& path, const struct stat& info) {
  return (info.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0 ||
         path.endsWith(QLatin1String(".desktop"), Qt::CaseInsensitive);
}

} // namespace

std::variant<QString, LocalFileProblem> examineLocalFile(const QString& path) {
  const QByteArray native = QFile::encodeName(path);
  char resolved[PATH_MAX];
  if (!::realpath(native.constData(), resolved)) {
    if (errno == ENOENT || errno == ENOTDIR)
      return LocalFileProblem{QStringLiteral("There is no such file.")};
    if (errno == EACCES)
      return LocalFileProblem{QStringLiteral("The file cannot be reached: permission denied.")};
    return LocalFileProblem{QStringLiteral("The file cannot be found (%1).")
                                .arg(QString::fromLocal8Bit(std::strerror(errno)))};
  }
  struct stat info {};
  if (::stat(resolved, &info) != 0)
    return LocalFileProblem{QStringLiteral("The file cannot be examined.")};
  if (S_ISDIR(info.st_mode))
    return LocalFileProblem{QStringLiteral("This is a folder, not a file.")};
  if (S_ISFIFO(info.st_mode))
    return LocalFileProblem{QStringLiteral("This is a named pipe (FIFO), not a file.")};
  if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode))
    return LocalFileProblem{QStringLiteral("This is a device, not a file.")};
  if (S_ISSOCK(info.st_mode))
    return LocalFileProblem{QStringLiteral("This is a socket, not a file.")};
  if (!S_ISREG(info.st_mode))
    return LocalFileProblem{QStringLiteral("This is not a regular file.")};
  if (::access(resolved, R_OK) != 0)
    return LocalFileProblem{QStringLiteral("You are not allowed to read this file.")};
  return QFile::decodeName(resolved);
}

LinkTarget LinkTarget::of(const QUrl& link, const QUrl& page,
                          const std::function<bool(const QString&)>& canPreview) {
  if (isWebOrMail(link)) {
    LinkTarget target;
    target.action = Action::openInBrowser;
    target.url = link;
    return target;
  }
  QString path;
  if (link.scheme() == QLatin1String(PreviewSchemes::kPageScheme)) {
    // A relative link, resolved by the engine against the page's address, whose path is the
    // document's; without one, there is no folder to resolve against.
    if (PreviewSchemes::documentPathOf(page).isEmpty())
      return refused(link.toDisplayString(),
                     QStringLiteral("The document's folder is not known, so its relative links "
                                    "cannot be followed."));
    path = PreviewSchemes::documentPathOf(link);
  } else if (link.isLocalFile() && (link.host().isEmpty() || link.host() == "localhost")) {
    path = link.toLocalFile();
  } else {
    return refused(link.toDisplayString().left(200),
                   QStringLiteral("Links of this kind are not followed from a preview."));
  }
  const QString name = QFileInfo(path).fileName().isEmpty() ? path : QFileInfo(path).fileName();
  if (path.isEmpty() || path == QLatin1String("/"))
    return refused(QStringLiteral("/"), QStringLiteral("This is a folder, not a file."));
  std::variant<QString, LocalFileProblem> examined = examineLocalFile(path);
  if (auto* problem = std::get_if<LocalFileProblem>(&examined))
    return refused(name, problem->description);
  LinkTarget target;
  target.path = std::get<QString>(std::move(examined));
  if (canPreview(target.path)) {
    target.action = Action::previewDocument;
    target.fragment = link.fragment(QUrl::FullyDecoded);
    return target;
  }
  struct stat info {};
  if (::stat(QFile::encodeName(target.path).constData(), &info) != 0 ||
      isProgram(target.path, info))
    return refused(name, QStringLiteral("This is a program or a launcher; it is not run from a "
                                        "preview."));
  target.action = Action::openWithDefaultApp;
  return target;
}
