# spdlog (libspdlog-dev) for the Windows cross build: header-only, over the
# header-only fmt. Debian's spdlog is configured for an external fmt.
include(${CMAKE_CURRENT_LIST_DIR}/stage_headers.cmake)
include(CMakeFindDependencyMacro)
find_dependency(fmt CONFIG)
find_dependency(Threads)
if(NOT TARGET spdlog::spdlog_header_only)
  quorvant_stage_headers(spdlog_include spdlog spdlog)
  add_library(spdlog::spdlog_header_only INTERFACE IMPORTED)
  set_target_properties(spdlog::spdlog_header_only PROPERTIES
      INTERFACE_COMPILE_DEFINITIONS "SPDLOG_FMT_EXTERNAL"
      INTERFACE_INCLUDE_DIRECTORIES "${spdlog_include}"
      INTERFACE_LINK_LIBRARIES "Threads::Threads;fmt::fmt-header-only")
endif()
set(spdlog_FOUND TRUE)
