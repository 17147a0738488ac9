# libpq, PostgreSQL's client library, for the floor's shared record, as the
# target lorta::libpq: Debian's libpq-dev through pkg-config.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LORTA_LIBPQ_PC REQUIRED IMPORTED_TARGET GLOBAL libpq)
add_library(lorta::libpq ALIAS PkgConfig::LORTA_LIBPQ_PC)
