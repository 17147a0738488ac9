# Cross-builds for 64-bit Windows with Debian's mingw-w64 (posix threads, which
# the Qt kit is built with) against the static Qt kit of
# scripts/windows/build-qt-kit:
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DLORTA_QT_KIT=$HOME/.cache/lorta-flash/qt-5.15.8-win64-static
#
# LORTA_QT_KIT defaults to the environment variable of the same name, then to
# the kit script's default folder; so do LORTA_XLSXWRITER, the static
# libxlsxwriter of scripts/windows/build-xlsxwriter (cmake/xlsxwriter.cmake),
# and LORTA_LIBPQ, the static libpq of scripts/windows/build-libpq
# (cmake/libpq.cmake).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(lorta_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${lorta_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${lorta_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${lorta_triple}-windres)

if(NOT LORTA_QT_KIT)
  if(DEFINED ENV{LORTA_QT_KIT})
    set(LORTA_QT_KIT "$ENV{LORTA_QT_KIT}")
  else()
    set(LORTA_QT_KIT "$ENV{HOME}/.cache/lorta-flash/qt-5.15.8-win64-static")
  endif()
endif()
set(LORTA_QT_KIT "${LORTA_QT_KIT}" CACHE PATH "The static Qt kit for Windows")
# try_compile projects see the kit too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LORTA_QT_KIT)

# Libraries and packages come from the kit and the mingw sysroot only, never
# from the build machine; programs (moc, rcc, uic) run on the build machine.
set(CMAKE_FIND_ROOT_PATH "${LORTA_QT_KIT}" /usr/${lorta_triple})
set(CMAKE_PREFIX_PATH "${LORTA_QT_KIT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
