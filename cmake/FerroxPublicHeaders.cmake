# SPDX-License-Identifier: MIT
# ferrox_public_headers(TARGET ROOTS header...): installs with TARGET the headers ROOTS, spelled as
# programs include them ("ferrox/vpc/machine.h"), and every header of the roots' own folders that
# they include, followed from header to header. A header that only the sources include stays
# private, and a folder reorganised keeps its installed set without a list kept by hand.
function(ferrox_public_headers target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "ROOTS")
  set(include_dir ${PROJECT_SOURCE_DIR}/include)
  set(folders)
  foreach(root IN LISTS arg_ROOTS)
    string(REGEX MATCH "^ferrox/[^/]+/" folder "${root}")
    list(APPEND folders ${folder})
  endforeach()

  set(pending ${arg_ROOTS})
  set(headers)
  while(pending)
    list(POP_FRONT pending header)
    if(header IN_LIST headers)
      continue()
    endif()
    if(NOT EXISTS ${include_dir}/${header})
      message(FATAL_ERROR "public header ${header} of ${target} not found under ${include_dir}")
    endif()
    list(APPEND headers ${header})
    file(STRINGS ${include_dir}/${header} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"ferrox/")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[^\"]*\"([^\"]+)\".*" "\\1" included "${line}")
      string(REGEX MATCH "^ferrox/[^/]+/" folder "${included}")
      if(folder IN_LIST folders)
        list(APPEND pending ${included})
      endif()
    endforeach()
  endwhile()

  list(TRANSFORM headers PREPEND ${include_dir}/)
  target_sources(${target} PUBLIC FILE_SET HEADERS BASE_DIRS ${include_dir} FILES ${headers})
  # An include added to a public header changes the set.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${headers})
endfunction()
