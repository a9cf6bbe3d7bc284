// PreviewSchemes: the two URL schemes the preview panel serves from memory. A page is
// "qlpreview://item-<n>/"; its attachments are "cid:<identifier>", as the page refers to them.
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

// The address of the page of item `index`.
QUrl pageURL(int index);
// The item a page address (or an initiator origin) names, if it is one of ours.
std::optional<int> itemOf(const QUrl& url);

} // namespace PreviewSchemes
