# Fills the "lib" folder beside the executables with links to the installed
# media libraries under their sonames (libavcodec.so.59, ...). The soname
# major numbers come from the installed headers.
set(_lib_links)
foreach(module ${TAVRELLE_MEDIA_LIBS})
  pkg_get_variable(_libdir ${module} libdir)
  pkg_get_variable(_includedir ${module} includedir)
  string(TOUPPER ${module} _upper)
  set(_header ${_includedir}/${module}/version_major.h)
  if(NOT EXISTS ${_header})
    set(_header ${_includedir}/${module}/version.h)
  endif()
  file(STRINGS ${_header} _line REGEX "#define ${_upper}_VERSION_MAJOR[ \t]+[0-9]+")
  string(REGEX MATCH "[0-9]+$" _major "${_line}")
  set(_soname ${module}.so.${_major})
  set(TAVRELLE_${_upper}_MAJOR ${_major})
  if(NOT EXISTS ${_libdir}/${_soname})
    message(FATAL_ERROR "${_libdir}/${_soname} not found: is the runtime package of ${module} installed?")
  endif()
  add_custom_command(
    OUTPUT ${TAVRELLE_LIB_DIR}/${_soname}
    COMMAND ${CMAKE_COMMAND} -E create_symlink ${_libdir}/${_soname} ${TAVRELLE_LIB_DIR}/${_soname}
    COMMENT "Linking ${_soname} into the lib folder"
    VERBATIM)
  list(APPEND _lib_links ${TAVRELLE_LIB_DIR}/${_soname})
endforeach()
add_custom_target(lib_folder ALL DEPENDS ${_lib_links})
