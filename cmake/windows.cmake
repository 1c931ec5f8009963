# What the Windows build adds to the engine executable: the application
# manifest (platform/pbrain-orvalis.manifest), compiled in as a resource.
# Included from the top-level CMakeLists.txt when building for Windows.
enable_language(RC)
target_sources(pbrain-orvalis PRIVATE ${PROJECT_SOURCE_DIR}/platform/pbrain-orvalis.rc)
set_source_files_properties(${PROJECT_SOURCE_DIR}/platform/pbrain-orvalis.rc PROPERTIES
  OBJECT_DEPENDS ${PROJECT_SOURCE_DIR}/platform/pbrain-orvalis.manifest)
