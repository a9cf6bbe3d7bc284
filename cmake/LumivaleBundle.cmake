# Lays out the application bundle under the build tree the way the system expects it:
#   Lumivale Quick Look.app/Contents/{Info.plist, MacOS/, PlugIns/<Name>.appex/Contents/...}
# The preview service finds the extensions through this structure, and resources are looked up
# inside each extension's Contents/Resources.

set(LUMIVALE_APP_NAME "Lumivale Quick Look")
set(LUMIVALE_APP_BUNDLE "${CMAKE_BINARY_DIR}/${LUMIVALE_APP_NAME}.app")
set(LUMIVALE_SHORT_VERSION "${PROJECT_VERSION}")
set(LUMIVALE_BUNDLE_VERSION "1")
set(LUMIVALE_SPARKLE_FEED_URL "" CACHE STRING "Update feed written into the app's Info.plist")
set(LUMIVALE_SPARKLE_PUBLIC_ED_KEY "" CACHE STRING
    "Ed25519 public key (base64) that update archives must be signed with; empty turns updates off")
# The system tools the application registers its extensions with: this build's own.
set(LUMIVALE_LAUNCH_SERVICES_TOOL "${CMAKE_BINARY_DIR}/lsregister")
set(LUMIVALE_PLUGINKIT_TOOL "${CMAKE_BINARY_DIR}/pluginkit")
set(LUMIVALE_QUICKLOOK_TOOL "${CMAKE_BINARY_DIR}/qlmanage")
set(LUMIVALE_FOREIGN_SQLITE_PREVIEW_IDENTIFIER "org.sqlite.quicklook.preview" CACHE STRING
    "Bundle identifier of another vendor's SQLite preview extension, switched off at registration")

configure_file("${PROJECT_SOURCE_DIR}/LumivaleQuickLook/Info.plist.in"
               "${LUMIVALE_APP_BUNDLE}/Contents/Info.plist" @ONLY)
file(MAKE_DIRECTORY "${LUMIVALE_APP_BUNDLE}/Contents/MacOS")

# lumivale_extension_dir(<Name> <out-var>): the .appex folder of an extension inside the app.
function(lumivale_extension_dir name out)
  set(${out} "${LUMIVALE_APP_BUNDLE}/Contents/PlugIns/${name}.appex" PARENT_SCOPE)
endfunction()

# lumivale_add_extension(<target> INFO_PLIST <file>): places the extension executable in
# <Name>.appex/Contents/MacOS and writes its Info.plist.
function(lumivale_add_extension target)
  cmake_parse_arguments(ARG "" "INFO_PLIST" "" ${ARGN})
  lumivale_extension_dir(${target} appex)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${appex}/Contents/MacOS")
  configure_file("${ARG_INFO_PLIST}" "${appex}/Contents/Info.plist" @ONLY)
  file(MAKE_DIRECTORY "${appex}/Contents/Resources")
endfunction()

# lumivale_extension_module(<Name>): the layout both extensions share. <Name>Core is a static
# library of every .cpp in the folder but main.cpp (tests, tools and benchmarks link it), and
# <Name> is the extension executable built from main.cpp into <Name>.appex/Contents/MacOS.
function(lumivale_extension_module name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  add_library(${name}Core STATIC ${sources})
  target_include_directories(${name}Core PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name}Core PUBLIC PreviewCore)

  add_executable(${name} main.cpp)
  target_link_libraries(${name} PRIVATE ${name}Core)
  lumivale_add_extension(${name} INFO_PLIST ${CMAKE_CURRENT_SOURCE_DIR}/Info.plist.in)
endfunction()
