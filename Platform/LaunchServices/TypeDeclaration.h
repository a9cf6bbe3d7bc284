// TypeDeclaration: one uniform type that a bundle's Info.plist imports or exports
// (UTImportedTypeDeclarations, UTExportedTypeDeclarations), as Launch Services reads it to
// advertise the type to the desktop.
#pragma once

#include <string>
#include <vector>

class PropertyList;

struct TypeDeclaration {
  std::string identifier;              // UTTypeIdentifier
  std::string description;             // UTTypeDescription
  std::vector<std::string> conformsTo; // UTTypeConformsTo
  std::vector<std::string> extensions; // public.filename-extension
  std::vector<std::string> mimeTypes;  // public.mime-type, the first one preferred

  friend bool operator==(const TypeDeclaration&, const TypeDeclaration&) = default;
};

// The declarations of an Info.plist in file order, exported before imported; entries without
// an identifier are skipped.
std::vector<TypeDeclaration> typeDeclarationsOf(const PropertyList& infoDictionary);
