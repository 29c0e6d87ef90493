# Adds every subfolder of the calling folder that has a CMakeLists.txt, in
# name order, so an area is picked up as soon as it appears.
function(vyr_add_subfolders)
  file(GLOB _subdirs LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT _subdirs)
  foreach(_d IN LISTS _subdirs)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${_d} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${_d}/CMakeLists.txt)
      add_subdirectory(${_d})
    endif()
  endforeach()
endfunction()
