// UTType: a uniform type identifier with its file-name extensions, MIME types and conformance.
// A built-in table holds the types the previewers meet; the declarations an app's Info.plist
// imports or exports can be added at run time. Values are cheap to copy; the table is shared
// and thread-safe (readers share a lock, registration takes it exclusively).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class PropertyList;

class UTType {
public:
  // The type with this identifier, when the table knows it.
  static std::optional<UTType> fromIdentifier(std::string_view identifier);
  // The first known type that declares the extension (compared without case) and conforms to
  // `conformingTo`; nullopt when there is none.
  static std::optional<UTType> fromFilenameExtension(std::string_view extension,
                                                     const UTType& conformingTo);
  static std::optional<UTType> fromFilenameExtension(std::string_view extension);
  // The first known type that declares the MIME type (compared without case).
  static std::optional<UTType> fromMIMEType(std::string_view mimeType);

  // Adds the UTImportedTypeDeclarations and UTExportedTypeDeclarations of an Info.plist to the
  // table. Identifiers already known keep their first declaration.
  static void registerTypeDeclarations(const PropertyList& infoDictionary);

  static const UTType item;
  static const UTType data;
  static const UTType content;
  static const UTType text;
  static const UTType plainText;
  static const UTType html;
  static const UTType json;
  static const UTType xml;
  static const UTType image;
  static const UTType png;
  static const UTType jpeg;
  static const UTType gif;
  static const UTType svg;
  static const UTType webP;
  static const UTType bmp;
  static const UTType tiff;
  static const UTType heic;
  static const UTType ico;
  static const UTType markdown;
  static const UTType mermaid;
  static const UTType notebook;

  const std::string& identifier() const { return identifier_; }
  // The first declared MIME type / extension, when the type declares one.
  std::optional<std::string> preferredMIMEType() const;
  std::optional<std::string> preferredFilenameExtension() const;
  // True when this type is `other` or inherits from it (transitively).
  bool conforms(const UTType& other) const;

  friend bool operator==(const UTType&, const UTType&) = default;

private:
  explicit UTType(std::string identifier) : identifier_(std::move(identifier)) {}
  std::string identifier_;
};
