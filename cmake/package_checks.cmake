# Read by cpack before it makes a package.  A .deb whose Depends line could
# not be worked out would install where the program cannot run: without
# dpkg-shlibdeps, no .deb is made at all.
if(CPACK_GENERATOR STREQUAL "DEB")
  find_program(LSINSTALLED_SHLIBDEPS dpkg-shlibdeps)
  if(NOT LSINSTALLED_SHLIBDEPS)
    message(FATAL_ERROR "dpkg-shlibdeps, which works out the package's "
            "dependencies, is missing: sudo apt-get install dpkg-dev file")
  endif()
endif()
