# libxlsxwriter, for the journal's spreadsheet export, as the target
# lorta::xlsxwriter: Debian's libxlsxwriter-dev through pkg-config, or for
# Windows the static library of scripts/windows/build-xlsxwriter with
# mingw's static zlib, so the executables carry both.
if(WIN32)
  if(NOT LORTA_XLSXWRITER)
    if(DEFINED ENV{LORTA_XLSXWRITER})
      set(LORTA_XLSXWRITER "$ENV{LORTA_XLSXWRITER}")
    else()
      set(LORTA_XLSXWRITER "$ENV{HOME}/.cache/lorta-flash/xlsxwriter-win64-static")
    endif()
  endif()
  set(LORTA_XLSXWRITER "${LORTA_XLSXWRITER}" CACHE PATH "The static libxlsxwriter for Windows")
  set(lorta_xlsxwriter_lib "${LORTA_XLSXWRITER}/lib/libxlsxwriter.a")
  if(NOT EXISTS "${lorta_xlsxwriter_lib}")
    message(FATAL_ERROR "No static libxlsxwriter in ${LORTA_XLSXWRITER}: build it with "
                        "scripts/windows/build-xlsxwriter (scripts/build-windows runs it)")
  endif()
  # Found inside the sysroot, never on the build machine (the toolchain's root path).
  find_library(LORTA_ZLIB_STATIC NAMES libz.a)
  if(NOT LORTA_ZLIB_STATIC)
    message(FATAL_ERROR "No static zlib for mingw-w64: install Debian's libz-mingw-w64-dev")
  endif()
  add_library(lorta::xlsxwriter STATIC IMPORTED)
  set_target_properties(lorta::xlsxwriter PROPERTIES
    IMPORTED_LOCATION "${lorta_xlsxwriter_lib}"
    INTERFACE_INCLUDE_DIRECTORIES "${LORTA_XLSXWRITER}/include"
    INTERFACE_LINK_LIBRARIES "${LORTA_ZLIB_STATIC}")
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(LORTA_XLSXWRITER_PC REQUIRED IMPORTED_TARGET GLOBAL xlsxwriter)
  add_library(lorta::xlsxwriter ALIAS PkgConfig::LORTA_XLSXWRITER_PC)
endif()
