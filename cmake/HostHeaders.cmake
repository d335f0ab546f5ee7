# Header-only libraries of the build machine, for a cross build. /usr/include
# itself never joins the target's include path (the build machine's C library
# headers would shadow the target's own): a folder in the build tree links
# only each library's folder, and a small package file per library lets
# find_package(<name>) find it there unchanged.
set(velmor_host_headers ${CMAKE_BINARY_DIR}/host-headers)

function(velmor_host_header_package package folder target)
  set(system_config /usr/share/cmake/${package})
  if(NOT EXISTS /usr/include/${folder} OR NOT EXISTS ${system_config}/${package}ConfigVersion.cmake)
    return()
  endif()
  set(config ${velmor_host_headers}/${package})
  file(MAKE_DIRECTORY ${velmor_host_headers}/include ${config})
  file(CREATE_LINK /usr/include/${folder} ${velmor_host_headers}/include/${folder} SYMBOLIC)
  file(WRITE ${config}/${package}Config.cmake
"if(NOT TARGET ${target})
  add_library(${target} INTERFACE IMPORTED)
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${velmor_host_headers}/include)
endif()
")
  # The library's own version check; a header-only library suits every
  # target whatever the build machine's word size.
  file(WRITE ${config}/${package}ConfigVersion.cmake
"include(${system_config}/${package}ConfigVersion.cmake)
set(PACKAGE_VERSION_UNSUITABLE FALSE)
")
  set(${package}_DIR ${config} CACHE PATH "Package folder of the build machine's ${package} headers" FORCE)
endfunction()

velmor_host_header_package(nlohmann_json nlohmann nlohmann_json::nlohmann_json)
