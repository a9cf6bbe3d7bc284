// Fuzzes the image-reference scan, URL resolution and the Markdown image rewrite:
// - the linear scan finds exactly what a plain leftmost regex search finds;
// - a resolved destination is a standardized path (no "." or ".." components left);
// - the rewrite leaves every byte outside the references as it was, and each reference either
//   unchanged or pointing at a "cid:" attachment that holds the file's bytes;
// - no read returns more than the per-image cap plus one byte, no attachment exceeds the cap,
//   and all attachments together stay within the cumulative cap.
// The reads go to real files (regular ones of several sizes, a FIFO, a directory, a link to a
// device, a link loop) in a private temporary folder, through the reader the pipelines use.
#include "FuzzSupport.h"
#include "ImageFolder.h"
#include "PreviewCore/ImageReferenceScanner.h"
#include "PreviewCore/InlineLocalAssets.h"

#include <set>
#include <unicode/regex.h>
#include <unicode/utext.h>
#include <vector>

using namespace InlineLocalAssets;
using FuzzSupport::require;

namespace {

std::vector<ImageReference> plainSearch(std::string_view text) {
  std::vector<ImageReference> found;
  UErrorCode status = U_ZERO_ERROR;
  UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
  std::unique_ptr<icu::RegexMatcher> matcher(imagePattern().matcher(status));
  require(U_SUCCESS(status), "the reference matcher can be made");
  matcher->reset(utext);
  while (matcher->find(status) && U_SUCCESS(status)) {
    ImageReference ref;
    auto bounds = [&](int group, std::size_t& start, std::size_t& end) {
      UErrorCode s = U_ZERO_ERROR;
      int64_t from = matcher->start64(group, s), to = matcher->end64(group, s);
      if (U_FAILURE(s) || from < 0 || to < from)
        from = to = 0;
      start = static_cast<std::size_t>(from);
      end = static_cast<std::size_t>(to);
    };
    bounds(0, ref.start, ref.end);
    bounds(1, ref.altStart, ref.altEnd);
    bounds(2, ref.destinationStart, ref.destinationEnd);
    bounds(3, ref.titleStart, ref.titleEnd);
    found.push_back(ref);
  }
  matcher.reset();
  utext_close(utext);
  return found;
}

bool same(const ImageReference& a, const ImageReference& b) {
  return a.start == b.start && a.end == b.end && a.altStart == b.altStart && a.altEnd == b.altEnd &&
         a.destinationStart == b.destinationStart && a.destinationEnd == b.destinationEnd &&
         a.titleStart == b.titleStart && a.titleEnd == b.titleEnd;
}

void checkResolution(std::string_view destination, const URL& base) {
  const std::optional<URL> url = resolveLocalImageURL(destination, base);
  if (!url)
    return;
  require(!destination.empty() && destination.front() != '/' && destination.front() != '#' &&
              !hasURLScheme(destination),
          "only relative paths without a scheme resolve");
  const std::string& path = url->path();
  require(!path.empty() && path.front() == '/', "a resolved path is absolute");
  require(path.find("/./") == std::string::npos && path.find("/../") == std::string::npos &&
              !path.ends_with("/.") && !path.ends_with("/.."),
          "a resolved path is standardized");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0)
    return 0;
  // The first byte picks the caps; the rest is the document.
  static constexpr std::int64_t kPerImageCaps[] = {0, 10, 64, 100, 4096, -1};
  static constexpr std::int64_t kCumulativeCaps[] = {0, 50, 150, 1 << 20};
  const std::int64_t perImageCap = kPerImageCaps[data[0] % 6];
  const std::int64_t cumulativeCap = kCumulativeCaps[(data[0] >> 3) % 4];
  const std::string_view text = FuzzSupport::bytes(data + 1, size - 1);
  const URL& base = ImageFolder::documentFolder();

  std::vector<ImageReference> refs;
  forEachImageReference(text, [&](const ImageReference& ref) { refs.push_back(ref); });
  if (text.size() <= 2048) {
    const std::vector<ImageReference> expected = plainSearch(text);
    require(refs.size() == expected.size(), "the scan finds as many references as a plain search");
    for (std::size_t i = 0; i < refs.size(); ++i)
      require(same(refs[i], expected[i]), "the scan finds the plain search's references");
  }

  const Reader files = boundedFileReader(perImageCap);
  const Reader reader = [&](const URL& url) {
    std::string bytes = files(url);
    require(perImageCap < 0 || static_cast<std::int64_t>(bytes.size()) <= perImageCap + 1,
            "a read never returns more than the cap plus one byte");
    return bytes;
  };
  AttachmentMap attachments;
  std::uint64_t counter = 0;
  const std::string out =
      rewriteImageReferences(text, base, reader, perImageCap, cumulativeCap, attachments, counter);
  require(counter == attachments.size(), "every new identifier has its attachment");

  // Walk the output along the references found.
  std::size_t in = 0, at = 0;
  std::set<std::string> used;
  std::int64_t total = 0;
  for (const ImageReference& ref : refs) {
    const std::string_view between = text.substr(in, ref.start - in);
    require(out.compare(at, between.size(), between) == 0, "text between references is kept");
    at += between.size();
    const std::string_view original = text.substr(ref.start, ref.end - ref.start);
    const std::string_view destination =
        text.substr(ref.destinationStart, ref.destinationEnd - ref.destinationStart);
    checkResolution(destination, base);
    const std::string prefix =
        "![" + std::string(text.substr(ref.altStart, ref.altEnd - ref.altStart)) + "](cid:";
    const std::string title(text.substr(ref.titleStart, ref.titleEnd - ref.titleStart));
    const std::optional<URL> url = resolveLocalImageURL(destination, base);
    bool replaced = false;
    // A destination that is not a local path is never rewritten (it may read like a rewritten
    // one: "cid:lumivale-asset-0" is left as written).
    if (url && out.compare(at, prefix.size(), prefix) == 0) {
      const std::size_t idStart = at + prefix.size();
      // "lumivale-asset-" and a number: the title that may follow starts with any white space.
      std::size_t idEnd = out.compare(idStart, kIdentifierPrefix.size(), kIdentifierPrefix) == 0
                              ? idStart + kIdentifierPrefix.size()
                              : idStart;
      while (idEnd < out.size() && out[idEnd] >= '0' && out[idEnd] <= '9')
        ++idEnd;
      const std::string identifier = out.substr(idStart, idEnd - idStart);
      if (auto attachment = attachments.find(identifier); attachment != attachments.end()) {
        const std::string rest = title + ")";
        require(out.compare(idEnd, rest.size(), rest) == 0,
                "a rewritten reference keeps its title");
        if (used.insert(identifier).second) {
          require(attachment->second.data == ImageFolder::fileBytes(url->path()),
                  "an attachment holds the file's bytes");
          total += static_cast<std::int64_t>(attachment->second.data.size());
        }
        require(static_cast<std::int64_t>(attachment->second.data.size()) <= perImageCap,
                "an attachment is within the per-image cap");
        at = idEnd + rest.size();
        replaced = true;
      }
    }
    if (!replaced) {
      require(out.compare(at, original.size(), original) == 0,
              "a reference not rewritten stays as written");
      at += original.size();
    }
    in = ref.end;
  }
  require(out.compare(at, std::string::npos, text.substr(in)) == 0, "the text after is kept");
  require(used.size() == attachments.size(), "every attachment is referred to");
  require(total <= cumulativeCap, "attachments stay within the cumulative cap");
  return 0;
}
