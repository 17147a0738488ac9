# libpq, PostgreSQL's client library, for the floor's shared record, as the
# target lorta::libpq: Debian's libpq-dev through pkg-config, or for Windows
# the static libpq of scripts/windows/build-libpq with the parts of
# PostgreSQL's src/common and src/port it calls, so the executables carry it.
if(WIN32)
  if(NOT LORTA_LIBPQ)
    if(DEFINED ENV{LORTA_LIBPQ})
      set(LORTA_LIBPQ "$ENV{LORTA_LIBPQ}")
    else()
      set(LORTA_LIBPQ "$ENV{HOME}/.cache/lorta-flash/libpq-win64-static")
    endif()
  endif()
  set(LORTA_LIBPQ "${LORTA_LIBPQ}" CACHE PATH "The static libpq for Windows")
  set(lorta_libpq_lib "${LORTA_LIBPQ}/lib/libpq.a")
  foreach(lorta_libpq_file "${lorta_libpq_lib}" "${LORTA_LIBPQ}/lib/libpgcommon_shlib.a"
                           "${LORTA_LIBPQ}/lib/libpgport_shlib.a" "${LORTA_LIBPQ}/include/libpq-fe.h")
    if(NOT EXISTS "${lorta_libpq_file}")
      message(FATAL_ERROR "No static libpq in ${LORTA_LIBPQ} (${lorta_libpq_file} is missing): "
                          "build it with scripts/windows/build-libpq (scripts/build-windows runs it)")
    endif()
  endforeach()
  # libpq calls pgcommon, which calls pgport; then Winsock, SSPI (secur32) for
  # Windows authentication, shell32 for the folder of pgpass.conf, advapi32
  # for pgport's security and registry calls.
  add_library(lorta::libpq STATIC IMPORTED)
  set_target_properties(lorta::libpq PROPERTIES
    IMPORTED_LOCATION "${lorta_libpq_lib}"
    INTERFACE_INCLUDE_DIRECTORIES "${LORTA_LIBPQ}/include"
    INTERFACE_LINK_LIBRARIES
      "${LORTA_LIBPQ}/lib/libpgcommon_shlib.a;${LORTA_LIBPQ}/lib/libpgport_shlib.a;ws2_32;secur32;shell32;advapi32")
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(LORTA_LIBPQ_PC REQUIRED IMPORTED_TARGET GLOBAL libpq)
  add_library(lorta::libpq ALIAS PkgConfig::LORTA_LIBPQ_PC)
endif()
