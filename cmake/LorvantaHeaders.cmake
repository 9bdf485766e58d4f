# lorvanta_headers(<target> PUBLIC <header>... [PRIVATE <header>...])
#
# A library sees its own headers and the public headers of the libraries it links, nothing
# else: each header named here is linked, under its rooted name (studio/audio/AudioEngine.h),
# into an include folder of the target's own in the build tree. The public folder goes to
# everything that links the target; the private one (internal headers) only to the target.
# An include of a header that is not there fails to build.
function(lorvanta_headers target)
  cmake_parse_arguments(ARG "" "" "PUBLIC;PRIVATE" ${ARGN})
  file(RELATIVE_PATH folder ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  foreach(scope PUBLIC PRIVATE)
    string(TOLOWER ${scope} kind)
    set(root ${CMAKE_BINARY_DIR}/include/${target}/${kind})
    # Made afresh, so that a header taken off the list is gone from the folder too.
    file(REMOVE_RECURSE ${root})
    file(MAKE_DIRECTORY ${root})
    foreach(header ${ARG_${scope}})
      set(link ${root}/${folder}/${header})
      get_filename_component(dir ${link} DIRECTORY)
      file(MAKE_DIRECTORY ${dir})
      file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR}/${header} ${link} SYMBOLIC)
    endforeach()
    target_include_directories(${target} ${scope} ${root})
    target_sources(${target} PRIVATE ${ARG_${scope}})
  endforeach()
endfunction()
