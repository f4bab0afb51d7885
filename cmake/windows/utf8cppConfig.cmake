# utfcpp (libutfcpp-dev) for the Windows cross build: header-only.
include(${CMAKE_CURRENT_LIST_DIR}/stage_headers.cmake)
if(NOT TARGET utf8cpp)
  quorvant_stage_headers(utf8cpp_include utf8cpp utf8cpp/utf8.h utf8cpp/utf8)
  # <utf8cpp/utf8.h> as well as <utf8.h>.
  quorvant_stage_headers(utf8cpp_parent utf8cpp-parent utf8cpp)
  add_library(utf8cpp INTERFACE IMPORTED)
  set_target_properties(utf8cpp PROPERTIES
      INTERFACE_INCLUDE_DIRECTORIES "${utf8cpp_include};${utf8cpp_parent}")
endif()
set(utf8cpp_FOUND TRUE)
