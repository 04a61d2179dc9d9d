# The product: vis_marlix.dll for 32-bit Windows, the engine and the plug-in in one library, linked
# against the system's Direct3D 8 and Win32 DLLs and a static libjpeg built by scripts/windows-deps.
# Nothing of platform/ is used here: the real <windows.h> and <d3d8.h> come with MinGW.

add_compile_options(-Wall -Wextra)

set(MARLIX_JPEG_DIR ${CMAKE_BINARY_DIR}/deps/jpeg CACHE PATH "static libjpeg (62 API) built for MinGW")
if(NOT EXISTS ${MARLIX_JPEG_DIR}/lib/libjpeg.a)
  message(STATUS "Building libjpeg for MinGW (scripts/windows-deps)")
  execute_process(COMMAND sh ${CMAKE_SOURCE_DIR}/scripts/windows-deps ${CMAKE_BINARY_DIR} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT EXISTS ${MARLIX_JPEG_DIR}/lib/libjpeg.a)
    message(FATAL_ERROR "scripts/windows-deps failed: no ${MARLIX_JPEG_DIR}/lib/libjpeg.a")
  endif()
endif()
add_library(marlix_jpeg STATIC IMPORTED)
set_target_properties(marlix_jpeg PROPERTIES IMPORTED_LOCATION ${MARLIX_JPEG_DIR}/lib/libjpeg.a
  INTERFACE_INCLUDE_DIRECTORIES ${MARLIX_JPEG_DIR}/include)

file(GLOB RESOURCE_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/*.rc)
if(RESOURCE_SOURCES)
  enable_language(RC)
  # The template's bitmap is a build input too: a changed logo rebuilds the resources.
  file(GLOB RESOURCE_BITMAPS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/*.bmp)
  set_source_files_properties(${RESOURCE_SOURCES} PROPERTIES OBJECT_DEPENDS "${RESOURCE_BITMAPS}")
endif()
set(WINDOWS_SOURCES ${PLUGIN_SOURCES} ${RESOURCE_SOURCES})
list(APPEND WINDOWS_SOURCES ${ENGINE_SOURCES})

add_library(vis_marlix SHARED ${WINDOWS_SOURCES})
target_include_directories(vis_marlix PRIVATE ${CMAKE_SOURCE_DIR}/plugin ${CMAKE_SOURCE_DIR}/resources
  ${CMAKE_SOURCE_DIR}/engine ${ENGINE_DIRS})
target_link_libraries(vis_marlix PRIVATE marlix_jpeg d3d8 user32 kernel32 gdi32 comctl32)
# Self-contained: no MinGW runtime DLLs to ship beside the plug-in. Only the dllexport'ed entry
# point is exported (ld stops auto-exporting once one symbol is marked).
target_link_options(vis_marlix PRIVATE -static-libgcc -static-libstdc++ -Wl,--exclude-all-symbols)
set_target_properties(vis_marlix PROPERTIES PREFIX "" OUTPUT_NAME vis_marlix
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR} LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
  ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)
