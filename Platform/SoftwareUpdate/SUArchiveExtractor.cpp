#include "SoftwareUpdate/SUArchiveExtractor.h"

#include <archive.h>
#include <archive_entry.h>
#include <memory>
#include <sys/stat.h>
#include <system_error>

namespace fs = std::filesystem;

namespace {

struct ReaderDeleter {
  void operator()(archive* a) const { archive_read_free(a); }
};
struct WriterDeleter {
  void operator()(archive* a) const { archive_write_free(a); }
};

// True when the relative path `p` stays below its root once "." and ".." are applied.
bool staysInside(const fs::path& p) {
  if (p.is_absolute() || p.has_root_name() || p.has_root_directory())
    return false;
  int depth = 0;
  for (const fs::path& part : p) {
    if (part == "..") {
      if (--depth < 0)
        return false;
    } else if (part != "." && !part.empty()) {
      ++depth;
    }
  }
  return true;
}

bool hasDotDot(const fs::path& p) {
  for (const fs::path& part : p)
    if (part == "..")
      return true;
  return false;
}

std::string errorText(archive* a, const char* fallback) {
  const char* text = archive_error_string(a);
  return text ? text : fallback;
}

std::string inQuotes(const std::string& name) {
  return "\"" + name + "\"";
}

// Every link left in the tree must resolve to a place inside it (or to nothing yet).
std::optional<std::string> checkLinksStayInside(const fs::path& root) {
  std::error_code ec;
  fs::path canonicalRoot = fs::canonical(root, ec);
  if (ec)
    return "The staging folder cannot be read: " + ec.message() + ".";
  for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    if (!it->is_symlink(ec))
      continue;
    fs::path resolved = fs::weakly_canonical(it->path(), ec);
    if (ec)
      return "A link in the update cannot be resolved: " + it->path().string() + ".";
    fs::path relative = resolved.lexically_relative(canonicalRoot);
    if (relative.empty() || !staysInside(relative))
      return "The update contains a link that points outside the application: " +
             inQuotes(it->path().lexically_relative(root).string()) + ".";
  }
  if (ec)
    return "The unpacked update cannot be read: " + ec.message() + ".";
  return std::nullopt;
}

} // namespace

std::optional<std::string> SUArchiveExtractor::extract(const fs::path& archivePath,
                                                       const fs::path& destination) {
  std::error_code ec;
  // Resolved once so that the link checks below never meet a link above the staging folder.
  fs::path root = fs::canonical(destination, ec);
  if (ec || !fs::is_directory(root))
    return "The staging folder " + destination.string() + " does not exist.";

  std::unique_ptr<archive, ReaderDeleter> reader(archive_read_new());
  archive_read_support_filter_gzip(reader.get());
  archive_read_support_format_tar(reader.get());
  if (archive_read_open_filename(reader.get(), archivePath.c_str(), 64 * 1024) != ARCHIVE_OK)
    return "The update archive cannot be opened: " + errorText(reader.get(), "unknown error") + ".";

  std::unique_ptr<archive, WriterDeleter> writer(archive_write_disk_new());
  archive_write_disk_set_options(writer.get(), ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                                   ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                                                   ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME);

  std::uint64_t entries = 0, unpacked = 0;
  for (;;) {
    archive_entry* entry = nullptr;
    int status = archive_read_next_header(reader.get(), &entry);
    if (status == ARCHIVE_EOF)
      break;
    if (status < ARCHIVE_WARN)
      return "The update archive is damaged: " + errorText(reader.get(), "unreadable header") + ".";
    if (++entries > kMaximumEntries)
      return "The update archive has too many entries.";

    const char* rawName = archive_entry_pathname(entry);
    std::string name = rawName ? rawName : "";
    fs::path relative(name);
    if (name.empty() || !staysInside(relative) || hasDotDot(relative))
      return "The update archive has an entry outside its folder: " + inQuotes(name) + ".";
    if (archive_entry_hardlink(entry))
      return "The update archive has a hard link, which is not allowed: " + inQuotes(name) + ".";

    mode_t type = archive_entry_filetype(entry);
    if (type == AE_IFLNK) {
      const char* rawTarget = archive_entry_symlink(entry);
      fs::path target(rawTarget ? rawTarget : "");
      if (target.empty() || !staysInside(relative.parent_path() / target))
        return "The update archive has a link that points outside the application: " +
               inQuotes(name) + " -> " + inQuotes(target.string()) + ".";
    } else if (type != AE_IFREG && type != AE_IFDIR) {
      return "The update archive has an entry that is not a file, folder or link: " +
             inQuotes(name) + ".";
    }
    if (type == AE_IFREG) {
      la_int64_t size = archive_entry_size(entry);
      if (size < 0 || (unpacked += static_cast<std::uint64_t>(size)) > kMaximumUnpackedSize)
        return "The update archive unpacks to more than the allowed size.";
    }
    // Owner-only permissions beyond the usual: no set-ID bits, always readable by the owner.
    archive_entry_set_perm(entry,
                           (archive_entry_perm(entry) & 0777) | (type == AE_IFDIR ? 0700 : 0600));
    archive_entry_set_pathname(entry, (root / relative).c_str());

    if (archive_write_header(writer.get(), entry) < ARCHIVE_WARN)
      return "The update could not be unpacked at " + inQuotes(name) + ": " +
             errorText(writer.get(), "write failed") + ".";
    if (type == AE_IFREG) {
      const void* block = nullptr;
      size_t length = 0;
      la_int64_t offset = 0;
      for (;;) {
        int r = archive_read_data_block(reader.get(), &block, &length, &offset);
        if (r == ARCHIVE_EOF)
          break;
        if (r < ARCHIVE_WARN)
          return "The update archive is damaged at " + inQuotes(name) + ": " +
                 errorText(reader.get(), "unreadable data") + ".";
        if (archive_write_data_block(writer.get(), block, length, offset) < ARCHIVE_WARN)
          return "The update could not be unpacked at " + inQuotes(name) + ": " +
                 errorText(writer.get(), "write failed") + ".";
      }
    }
    if (archive_write_finish_entry(writer.get()) < ARCHIVE_WARN)
      return "The update could not be unpacked at " + inQuotes(name) + ": " +
             errorText(writer.get(), "write failed") + ".";
  }
  if (archive_write_close(writer.get()) != ARCHIVE_OK)
    return "The update could not be unpacked: " + errorText(writer.get(), "write failed") + ".";
  if (entries == 0)
    return "The update archive is empty.";
  return checkLinksStayInside(root);
}
