# Removes the files a `cmake --install` recorded in its manifest, below
# $ENV{DESTDIR} when that is set (the manifest names them without it).
#
#   DESTDIR=... cmake -DMANIFEST=build/install_manifest.txt -P cmake/Uninstall.cmake
#
# Only files are removed: the folders they were in may hold other programs'
# files (bin, man1), and an empty one does no harm.
if(NOT DEFINED MANIFEST)
  message(FATAL_ERROR "MANIFEST is not set: -DMANIFEST=<build folder>/install_manifest.txt")
endif()
if(NOT EXISTS "${MANIFEST}")
  message(FATAL_ERROR "${MANIFEST} not found: nothing was installed from this build folder")
endif()
file(STRINGS "${MANIFEST}" installed)
foreach(file IN LISTS installed)
  set(path "$ENV{DESTDIR}${file}")
  if(EXISTS "${path}" OR IS_SYMLINK "${path}")
    message(STATUS "Removing ${path}")
    file(REMOVE "${path}")
  endif()
endforeach()
