# fmt (libfmt-dev) for the Windows cross build, header-only: there is no
# Windows build of the library.
include(${CMAKE_CURRENT_LIST_DIR}/stage_headers.cmake)
if(NOT TARGET fmt::fmt-header-only)
  quorvant_stage_headers(fmt_include fmt fmt)
  add_library(fmt::fmt-header-only INTERFACE IMPORTED)
  set_target_properties(fmt::fmt-header-only PROPERTIES
      INTERFACE_COMPILE_DEFINITIONS "FMT_HEADER_ONLY=1"
      INTERFACE_INCLUDE_DIRECTORIES "${fmt_include}")
endif()
set(fmt_FOUND TRUE)
