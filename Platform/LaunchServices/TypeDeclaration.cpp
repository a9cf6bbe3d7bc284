#include "LaunchServices/TypeDeclaration.h"

#include "Foundation/PropertyList.h"

namespace {} // namespace

std::vector<TypeDeclaration> typeDeclarationsOf(const PropertyList& infoDictionary) {
  std::vector<TypeDeclaration> declarations;
  for (const char* key : {"UTExportedTypeDeclarations", "UTImportedTypeDeclarations"}) {
    const PropertyList* list = infoDictionary.member(key);
    if (!list || !list->asArray())
      continue;
    for (const PropertyList& entry : *list->asArray()) {
      const PropertyList* identifier = entry.member("UTTypeIdentifier");
      if (!identifier || !identifier->asString() || identifier->asString()->empty())
        continue;
      TypeDeclaration declaration;
      declaration.identifier = *identifier->asString();
      if (const PropertyList* description = entry.member("UTTypeDescription");
          description && description->asString())
        declaration.description = *description->asString();
      declaration.conformsTo = stringsOf(entry.member("UTTypeConformsTo"));
      if (const PropertyList* tags = entry.member("UTTypeTagSpecification")) {
        declaration.extensions = stringsOf(tags->member("public.filename-extension"));
        declaration.mimeTypes = stringsOf(tags->member("public.mime-type"));
      }
      declarations.push_back(std::move(declaration));
    }
  }
  return declarations;
}
