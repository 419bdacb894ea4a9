# Scintilla's Win32 editor component (static), for the host stand-in only.
include_guard(GLOBAL)
# Sources: Debian's scite 5.3.3 source package, fetched by scripts/setup.
set(SIFTWELL_SCITE_TARBALL "${PROJECT_SOURCE_DIR}/third_party/scite_5.3.3.orig.tar.gz"
    CACHE FILEPATH "scite 5.3.3 source tarball (bundles scintilla/)")
include(FetchContent)
FetchContent_Declare(scite
  URL "${SIFTWELL_SCITE_TARBALL}"
  URL_HASH SHA256=79275a4a7e01bf429ff05e0fd699b79dc016d705335b393905b4f2cc43799a64
  DOWNLOAD_EXTRACT_TIMESTAMP TRUE)
FetchContent_GetProperties(scite)
if(NOT scite_POPULATED)
  FetchContent_Populate(scite)
endif()
set(sci ${scite_SOURCE_DIR}/scintilla)
file(GLOB sci_sources CONFIGURE_DEPENDS ${sci}/src/*.cxx)
add_library(scintilla STATIC ${sci_sources}
  ${sci}/win32/HanjaDic.cxx ${sci}/win32/PlatWin.cxx ${sci}/win32/ScintillaWin.cxx)
target_include_directories(scintilla SYSTEM PUBLIC ${sci}/include PRIVATE ${sci}/src)
target_compile_definitions(scintilla PRIVATE NDEBUG)
target_compile_options(scintilla PRIVATE -w)
target_link_libraries(scintilla PUBLIC gdi32 user32 imm32 ole32 uuid oleaut32 msimg32)
