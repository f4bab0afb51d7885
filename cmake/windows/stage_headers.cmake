# Exposes one header directory of a Debian header-only package to the cross
# build under a directory of the build tree, so that the compiler gets that
# directory alone and never the build machine's /usr/include.
#   quorvant_stage_headers(<out-var> <staging name> <entries...>)
# Each entry is a path below /usr/include; the result is the directory to
# add to the include path.
function(quorvant_stage_headers out name)
  set(staged ${CMAKE_BINARY_DIR}/header-only/${name})
  foreach(entry IN LISTS ARGN)
    get_filename_component(leaf ${entry} NAME)
    if(NOT EXISTS /usr/include/${entry})
      message(FATAL_ERROR "/usr/include/${entry} is missing: install the Debian package "
                          "that provides it (./x deps)")
    endif()
    if(NOT EXISTS ${staged}/${leaf})
      file(MAKE_DIRECTORY ${staged})
      file(CREATE_LINK /usr/include/${entry} ${staged}/${leaf} SYMBOLIC)
    endif()
  endforeach()
  set(${out} ${staged} PARENT_SCOPE)
endfunction()
