# krm_add_widget_free_check(target [BINARY])
#
# Adds the test widget_free_<target>: it fails when the target links Qt6::Gui
# or Qt6::Widgets, directly or through any library it links. The libraries
# are collected here, at configure time, from the LINK_LIBRARIES and
# INTERFACE_LINK_LIBRARIES properties, so call this after every
# target_link_libraries of the libraries involved. With BINARY the test also
# reads the dynamic section of the built executable (readelf -d) and fails
# when it needs libQt6Gui or libQt6Widgets.
find_program(KRM_READELF readelf)

# Appends `item` and everything it links to the global property KRM_LINKS_SEEN.
function(_krm_collect_links item)
  get_property(seen GLOBAL PROPERTY KRM_LINKS_SEEN)
  if("${item}" IN_LIST seen)
    return()
  endif()
  set_property(GLOBAL APPEND PROPERTY KRM_LINKS_SEEN "${item}")
  if(NOT TARGET "${item}")
    return()
  endif()
  set(deps)
  get_target_property(aliased "${item}" ALIASED_TARGET)
  if(aliased)
    list(APPEND deps "${aliased}")
  endif()
  get_target_property(imported "${item}" IMPORTED)
  get_target_property(type "${item}" TYPE)
  if(NOT imported AND NOT type STREQUAL "INTERFACE_LIBRARY")
    get_target_property(direct "${item}" LINK_LIBRARIES)
    if(direct)
      list(APPEND deps ${direct})
    endif()
  endif()
  get_target_property(usage "${item}" INTERFACE_LINK_LIBRARIES)
  if(usage)
    list(APPEND deps ${usage})
  endif()
  foreach(dep IN LISTS deps)
    # A private dependency of a static library appears as $<LINK_ONLY:name>.
    string(REGEX REPLACE "^\\$<LINK_ONLY:(.+)>$" "\\1" dep "${dep}")
    if(dep MATCHES "^::@")
      # A marker of the directory that added the following entries.
      continue()
    elseif(dep MATCHES "^\\$<")
      # Another generator expression is kept as text: the check still sees
      # a Qt target named inside it.
      set_property(GLOBAL APPEND PROPERTY KRM_LINKS_SEEN "${dep}")
    else()
      _krm_collect_links("${dep}")
    endif()
  endforeach()
endfunction()

function(krm_add_widget_free_check target)
  cmake_parse_arguments(W "BINARY" "" "" ${ARGN})
  set_property(GLOBAL PROPERTY KRM_LINKS_SEEN "")
  _krm_collect_links(${target})
  get_property(links GLOBAL PROPERTY KRM_LINKS_SEEN)
  string(REPLACE ";" "\n" text "${links}")
  set(file "${CMAKE_CURRENT_BINARY_DIR}/${target}.links")
  file(WRITE "${file}" "${text}\n")
  set(args -DTARGET=${target} -DLINKS=${file})
  if(W_BINARY AND KRM_READELF)
    list(APPEND args -DREADELF=${KRM_READELF} -DBINARY=$<TARGET_FILE:${target}>)
  endif()
  add_test(NAME widget_free_${target}
    COMMAND ${CMAKE_COMMAND} ${args} -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/CheckWidgetFree.cmake)
endfunction()
