// PreviewSchemes: the two URL schemes the preview panel serves from memory. A page is
// "qlpreview://item-<n>/<the document's absolute path>" (or "qlpreview://item-<n>/" when the
// path is not known), so that the document's relative links resolve against its own folder;
// its attachments are "cid:<identifier>", as the page refers to them.
// Both must be registered before the QApplication exists.
#pragma once

#include <QByteArray>
#include <QUrl>
#include <optional>

namespace PreviewSchemes {

inline constexpr char kPageScheme[] = "qlpreview";
inline constexpr char kAttachmentScheme[] = "cid";

// Registers both schemes with Qt WebEngine. Call once, before the QApplication is created.
void registerSchemes();

// The address of the page of item `index`, showing the document at `documentPath` (absolute).
QUrl pageURL(int index, const QString& documentPath = {});
// The document path a page address carries (empty when it carries none).
QString documentPathOf(const QUrl& url);
// The item a page address (or an initiator origin) names, if it is one of ours.
std::optional<int> itemOf(const QUrl& url);

} // namespace PreviewSchemes
