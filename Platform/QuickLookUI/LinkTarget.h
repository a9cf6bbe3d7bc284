// LinkTarget: what the preview panel does with a link the user clicked. The page's address
// carries the document's real path (see PreviewSchemes), so a relative link arrives already
// resolved against the document's folder; a file: URL names its file directly. A local target
// is canonicalised and must be an existing regular file the user can read: a document a
// preview extension takes is previewed in the panel, another file opens with the desktop's
// default application (never a program), web and mail links go to the desktop's browser, and
// anything else is refused with a message for the user. Only file metadata is looked at here;
// the contents are read by the extension that previews the file.
#pragma once

#include <QString>
#include <QUrl>
#include <functional>
#include <variant>

struct LinkTarget {
  enum class Action { previewDocument, openWithDefaultApp, openInBrowser, refuse };
  Action action = Action::refuse;
  QString path;     // previewDocument, openWithDefaultApp: the canonical path
  QString fragment; // previewDocument: where to scroll to (without '#')
  QUrl url;         // openInBrowser
  QString name;     // refuse: what the link names (a file name, or the address)
  QString problem;  // refuse: why it is not followed, for the user

  // `link`: the clicked address; `page`: the address of the page it is on; `canPreview`:
  // whether a preview extension takes the file at a canonical path.
  static LinkTarget of(const QUrl& link, const QUrl& page,
                       const std::function<bool(const QString&)>& canPreview);
};

// The canonical path of `path` if it is an existing regular file the user may read, else a
// sentence saying what it is instead.
struct LocalFileProblem {
  QString description;
};
std::variant<QString, LocalFileProblem> examineLocalFile(const QString& path);
